#include "decision/update_driver.h"

#include "app/client_id.h"
#include "app/deploy_settings.h"
#include "app/host_probes.h"
#include "app/log.h"
#include "app/settings.h"
#include "app/signed_document.h"
#include "decision/update_document.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text.h"

namespace decision {
namespace {

constexpr char16_t kSaveFolderName[] = u"\\OvUpdate";
constexpr char16_t kLocalDocument[] = u"OvUpdate.xml";
constexpr char16_t kLocalDebugDocument[] = u"OvUpdate_Debug.xml";
constexpr char16_t kServerDocument[] = u"product/OvUpdate/OvUpdate.xml";
constexpr char16_t kServerDebugDocument[] = u"product/OvUpdate/OvUpdate_Debug.xml";
constexpr char16_t kPrintLogCopy[] = u"OvUpdatePrintLog.xml";

RunDecision ended(fetch::Verdict verdict) {
    RunDecision d;
    d.verdict = verdict;
    return d;
}

}  // namespace

UpdateDriver::UpdateDriver(RuleHost& host) : m_host(host) {}

RunDecision UpdateDriver::decide(std::u16string& clientId) {
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
    m_context.regions = gatherRegionValues(m_host);
    m_context.signedDocuments = signing::required();
    m_clientId = clientIdentifier(clientId);
    return obtainAndWalk();
}

RunDecision UpdateDriver::obtainAndWalk() {
    std::u16string folder = settings::dataFolder();
    if (!plat::pathExists(folder)) folder = plat::parentFolder(plat::executablePath());
    std::u16string local = folder + u"\\" + (m_debug ? kLocalDebugDocument : kLocalDocument);

    if (m_debug && m_readLocal) {
        LOG(u"此时为调试模式，并且是从本地读取xml");
        // The path goes through the ANSI code page, as the local document's reader takes it.
        std::string narrow = text::toAnsi(local);
        std::u16string path = text::fromAnsi(narrow);
        std::string content;
        // A file that is missing or cannot be read leaves nothing to do.
        if (narrow.empty() || !fileExists(path) || !plat::readWholeFile(path, content))
            return ended(fetch::Verdict::NothingToDo);
        if (!localDocumentAccepted(path, content)) return ended(fetch::Verdict::NothingToDo);
        return walkText(content);
    }
    // A stale local copy never survives a server run.
    if (fileExists(local)) plat::deleteFile(local);
    std::string body;
    if (!fetchUpdateDocument(m_debug ? kServerDebugDocument : kServerDocument, body) || body.empty())
        return ended(fetch::Verdict::NoDocument);
    std::string copy = cleanDocumentBody(body);
    body = std::string();
    // Best effort: a copy that cannot be written never stops the run.
    if (diag::loggingOn()) plat::writeWholeFile(kPrintLogCopy, copy);
    return walkText(copy);
}

// The local debug document is held to the same rule as a fetched one: its signature lies
// beside it, and it is known by the path of the served document of its name.
bool UpdateDriver::localDocumentAccepted(const std::u16string& path, const std::string& content) {
    if (!m_context.signedDocuments) return true;
    std::string signature;
    std::u16string signaturePath = signing::signatureLocation(path);
    // Signed as the served document of the same name is.
    std::u16string servedPath = signing::kProductFolder + path.substr(path.find_last_of(u"\\/") + 1);
    std::u16string reason = fileExists(signaturePath) && plat::readWholeFile(signaturePath, signature)
                                ? signing::refusalOfPath(content, signature, servedPath)
                                : std::u16string(signing::kNoSignature);
    if (reason.empty()) return true;
    LOG(signing::refusalLine(path, reason));
    return false;
}

RunDecision UpdateDriver::walkText(const std::string& text) {
    std::vector<DocumentItem> items;
    if (!parseUpdateDocument(text, items)) return ended(fetch::Verdict::NoUpdate);
    return walk(items);
}

RunDecision UpdateDriver::walk(const std::vector<DocumentItem>& items) {
    using Kind = DocumentItem::Kind;
    RunDecision decision;
    for (const DocumentItem& item : items) {
        switch (item.kind) {
            case Kind::Domains: {
                int counter = 1;
                for (const std::u16string& domain : item.texts) {
                    if (domain.empty()) continue;
                    m_packageDomains.push_back(domain);
                    LOG(u"domain%d->%s", counter++, domain);
                }
                break;
            }
            case Kind::Paths: addNamedPaths(item.paths, m_host, m_context.folders); break;
            case Kind::ClientPath: {
                std::u16string path = item.texts.front();
                if (m_host.readRegistryPath(path) && !path.empty()) m_context.clientPath = path;
                break;
            }
            case Kind::RecentFiles:
                m_recentFiles.insert(m_recentFiles.end(), item.texts.begin(), item.texts.end());
                cleanPackageDirectory();
                break;
            case Kind::Update:
                if (updateApplies(item, m_context, m_host) && decidePackage(item.update, decision))
                    return decision;
                break;
        }
    }
    return ended(fetch::Verdict::NoUpdate);
}

}  // namespace decision
