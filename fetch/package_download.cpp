// Fetching the chosen package: the peer-to-peer engine first unless the document asks for
// HTTP, then HTTP from the full link and from each package domain in turn. Every way out
// ends in finishUpdateRun, at once or, for a running engine task, through its messages.
#include "app/log.h"
#include "decision/update_driver.h"
#include "fetch/transfer.h"

namespace {

// A plain GET saved to the package path; the transfer writes the file only after a whole
// 200 answer.
bool downloadTo(const std::u16string& url, const std::u16string& savePath) {
    TransferRequest request;
    request.url = url;
    request.saveToFile = true;
    request.savePath = savePath;
    return performTransfer(request);
}

}  // namespace

void UpdateDriver::downloadPackage() {
    LOG(u"准备下载安装包");
    if (m_update.usehttp != 0) {
        LOG(u"http下载开始");
        downloadPackageOverHttp();
        return;
    }
    LOG(u"只存在prism后开始下载，失败后再http下载");
    if (startP2PDownload()) return;  // the engine reports through the thread's messages
    LOG(u"prism失败,去走http下载");
    downloadPackageOverHttp();
}

void UpdateDriver::fallBackToHttp() {
    LOG(u"prism或者nimbo下载安装包返回失败转http下载");
    downloadPackageOverHttp();
}

void UpdateDriver::downloadPackageOverHttp() {
    std::u16string savePath = packageSavePath();
    LOG(u"[LmUpdate.exe]保存文件名为：%s,%s", m_saveDirectory, m_update.name);
    if (!m_update.httplinkfull.empty() && downloadTo(m_update.httplinkfull, savePath)) {
        LOG(u"升级成功。实用的是httplinkfull，值为：%s", m_update.httplinkfull);
        finishUpdateRun(kRunDownloaded, false);
        return;
    }
    LOG(u"[LmUpdate.exe]httplinkfull为空或者下载失败，值为：%s", m_update.httplinkfull);
    LOG(u"[LmUpdate.exe]使用httplink拼接域名的方式下载，strHttpLink = %s", m_update.httplink);
    for (const std::u16string& domain : m_packageDomains) {
        std::u16string url = domain + u"/" + m_update.httplink;
        LOG(u"[LmUpdate.exe]拼接域名全地址：%s， 保存文件名为：%s", url, savePath);
        if (downloadTo(url, savePath)) {
            LOG(u"升级成功。实用的地址为：%s", url);
            finishUpdateRun(kRunDownloaded, false);
            return;
        }
        LOG(u"下载%s返回失败", savePath);
    }
    finishUpdateRun(kRunDownloadFailed, false);
}
