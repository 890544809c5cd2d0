#include "decision/update_driver.h"

#include "app/client_id.h"
#include "app/deploy_settings.h"
#include "app/log.h"
#include "app/settings.h"
#include "app/host_probes.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

constexpr char16_t kSaveFolderName[] = u"\\OvUpdate";
constexpr char16_t kLocalDocument[] = u"OvUpdate.xml";
constexpr char16_t kLocalDebugDocument[] = u"OvUpdate_Debug.xml";
constexpr char16_t kServerDocument[] = u"product/OvUpdate/OvUpdate.xml";
constexpr char16_t kServerDebugDocument[] = u"product/OvUpdate/OvUpdate_Debug.xml";

}  // namespace

UpdateDriver& updateDriver() {
    static UpdateDriver* driver = new UpdateDriver;  // outlives every thread that uses it
    return *driver;
}

void UpdateDriver::startUpdateRun() {
    using namespace settings;
    m_debug = readInt(kSectionTest, kKeyDebug, 0, kOvUpdateIni) == 1;
    m_readLocal = readInt(kSectionTest, kKeyReadLocalXml, 0, kOvUpdateIni) == 1;
    LOG(u"读取调试信息 debug = %d, readlocalxml = %d", m_debug, m_readLocal);

    if (m_documentDomains.empty()) {
        for (const std::u16string& domain : deploy::servers().domains) m_documentDomains.push_back(domain);
    }
    plat::setUserDefaultLocale();
    m_saveDirectory = dataFolder() + kSaveFolderName;
    LOG(u"最终安装包保存路径: %s", m_saveDirectory);
    // An existing folder reports "failed" here and is fine for what follows.
    bool created = plat::createDirectory(m_saveDirectory);
    LOG(u"创建安装包目录%s %s", m_saveDirectory, created ? u"success" : u"failed");
    std::u16string domains;
    for (const std::u16string& domain : m_documentDomains) domains += domain + u";";
    LOG(u"读取默认下载xml域 %s", domains);
    gatherRegionValues();
    m_clientId = clientIdentifier(m_clientId);
    obtainUpdateDocument();
}

void UpdateDriver::obtainUpdateDocument() {
    std::u16string folder = settings::dataFolder();
    if (!plat::pathExists(folder)) folder = plat::parentFolder(plat::executablePath());
    std::u16string local = folder + u"\\" + (m_debug ? kLocalDebugDocument : kLocalDocument);
    std::string narrow = text::toAnsi(local);

    if (m_debug && m_readLocal) {
        LOG(u"此时为调试模式，并且是从本地读取xml");
        processLocalDocument(narrow);
        return;
    }
    // A stale local copy never survives a server run.
    if (fileExists(local)) plat::deleteFile(local);
    if (!fetchUpdateDocument(m_debug ? kServerDebugDocument : kServerDocument)) {
        finishUpdateRun(kRunNoDocument, false);
        return;
    }
    processDownloadedDocument();
}
