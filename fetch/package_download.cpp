// Fetching the chosen package: the peer-to-peer engine first unless the document asks for
// HTTP, then HTTP from the full link and from each package domain in turn.
#include "app/deploy_settings.h"
#include "app/log.h"
#include "fetch/domains.h"
#include "fetch/engine_callback.h"
#include "fetch/package_run.h"
#include "fetch/resumable_download.h"

namespace fetch {
namespace {

// The document's filesize as a byte count; 0 (no bound of its own) unless it is all digits.
uint64_t declaredSize(const std::u16string& filesize) {
    constexpr uint64_t kMaxDeclared = 1ull << 50;
    uint64_t size = 0;
    for (char16_t c : filesize) {
        if (c < u'0' || c > u'9' || size > kMaxDeclared) return 0;
        size = size * 10 + static_cast<uint64_t>(c - u'0');
    }
    return size;
}

// A plain GET saved to the package path through its partial; the file takes the package's
// name only after the whole body arrived, and the body never passes the declared size.
// Background downloads keep to the deployment's receive cap.
bool downloadTo(const std::u16string& url, const std::u16string& savePath, uint64_t maxBytes, bool withSha256) {
    ResumableDownload download;
    download.url = url;
    download.target = savePath;
    download.expectedSize = maxBytes;
    download.digestSha256 = withSha256;
    download.policy.maxReceiveBytesPerSecond = app::deploy::servers().maxReceiveBytesPerSecond;
    return downloadResumable(download).ok();
}

}  // namespace

NextStep PackageRun::start(Verdict verdict, PackageJob job) {
    m_job = std::move(job);
    switch (verdict) {
        case Verdict::NothingToDo: return finish(RunStatus::NothingToDo, Source::Disk);
        case Verdict::NoDocument: return finish(RunStatus::NoDocument, Source::Disk);
        case Verdict::PackagePresent: return finish(RunStatus::PackagePresent, Source::Disk);
        case Verdict::Download: return download();
        case Verdict::NoUpdate: break;
    }
    return finish(RunStatus::NoUpdate, Source::Disk);
}

NextStep PackageRun::download() {
    LOG(u"准备下载安装包");
    if (m_job.package.usehttp != 0) {
        LOG(u"http下载开始");
        return downloadOverHttp();
    }
    LOG(u"只存在prism后开始下载，失败后再http下载");
    if (m_engine.start(m_job)) return NextStep::Wait;
    LOG(u"prism失败,去走http下载");
    return downloadOverHttp();
}

NextStep PackageRun::handleMessage(uint32_t message) {
    switch (message) {
        case UM_ENGINE_PACKAGE_DONE: return finish(RunStatus::Downloaded, Source::Engine);
        case UM_ENGINE_DOWNLOAD_FAILED:
            // Never the engine again: a failing engine would loop.
            LOG(u"prism或者nimbo下载安装包返回失败转http下载");
            return downloadOverHttp();
        case UM_ENGINE_CALLBACK_READY: LOG(u"prism 回掉注册成功"); return NextStep::Wait;
        default:  // UM_ENGINE_TASK_STATUS and anything else: no effect
            return NextStep::Wait;
    }
}

NextStep PackageRun::downloadOverHttp() {
    const Package& p = m_job.package;
    std::u16string savePath = m_job.savePath();
    uint64_t maxBytes = declaredSize(p.filesize);
    LOG(u"[LmUpdate.exe]保存文件名为：%s,%s", m_job.saveDirectory, p.name);
    if (!p.httplinkfull.empty() && downloadTo(p.httplinkfull, savePath, maxBytes, !p.sha256.empty())) {
        LOG(u"升级成功。实用的是httplinkfull，值为：%s", p.httplinkfull);
        return finish(RunStatus::Downloaded, Source::Http);
    }
    LOG(u"[LmUpdate.exe]httplinkfull为空或者下载失败，值为：%s", p.httplinkfull);
    LOG(u"[LmUpdate.exe]使用httplink拼接域名的方式下载，strHttpLink = %s", p.httplink);
    bool downloaded = tryEachDomain(m_job.domains, p.httplink, [&](const std::u16string& url) {
        LOG(u"[LmUpdate.exe]拼接域名全地址：%s， 保存文件名为：%s", url, savePath);
        if (downloadTo(url, savePath, maxBytes, !p.sha256.empty())) {
            LOG(u"升级成功。实用的地址为：%s", url);
            return true;
        }
        LOG(u"下载%s返回失败", savePath);
        return false;
    });
    return finish(downloaded ? RunStatus::Downloaded : RunStatus::DownloadFailed, Source::Http);
}

}  // namespace fetch
