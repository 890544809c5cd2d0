#include "decision/update_driver.h"

#include "app/client_id.h"
#include "app/deploy_settings.h"
#include "app/host_probes.h"
#include "app/log.h"
#include "app/settings.h"
#include "app/signed_document.h"
#include "decision/package_decision.h"
#include "decision/update_document.h"
#include "decision/update_rules.h"
#include "decision/verdict_log.h"
#include "fetch/partial_file.h"
#include "platform/files.h"
#include "platform/system.h"
#include "text/text.h"

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
    using namespace app::settings;
    m_debug = readInt(kSectionTest, kKeyDebug, 0, kOvUpdateIni) == 1;
    m_readLocal = readInt(kSectionTest, kKeyReadLocalXml, 0, kOvUpdateIni) == 1;
    LOG(u"读取调试信息 debug = %d, readlocalxml = %d", m_debug, m_readLocal);

    if (m_documentDomains.empty()) {
        for (const std::u16string& domain : app::deploy::servers().domains) m_documentDomains.push_back(domain);
    }
    plat::setUserDefaultLocale();
    m_machine.saveDirectory = dataFolder() + kSaveFolderName;
    LOG(u"最终安装包保存路径: %s", m_machine.saveDirectory);
    // An existing folder reports "failed" here and is fine for what follows.
    bool created = plat::createDirectory(m_machine.saveDirectory);
    LOG(u"创建安装包目录%s %s", m_machine.saveDirectory, created ? u"success" : u"failed");
    fetch::tidyPartials(m_machine.saveDirectory);
    std::u16string domains;
    for (const std::u16string& domain : m_documentDomains) domains += domain + u";";
    LOG(u"读取默认下载xml域 %s", domains);
    m_machine.regions = gatherRegionValues(m_host);
    m_machine.signedDocuments = app::signing::required();
    m_machine.clientId = app::clientIdentifier(clientId);
    RunDecision decision = obtainAndWalk();
    // A partial is kept only for the package this run goes on to download.
    bool downloads = decision.verdict == fetch::Verdict::Download;
    fetch::keepOnlyPartialOf(m_machine.saveDirectory, downloads ? decision.job.package.name : u"");
    return decision;
}

RunDecision UpdateDriver::obtainAndWalk() {
    std::u16string folder = app::settings::dataFolder();
    if (!plat::pathExists(folder)) folder = plat::parentFolder(plat::executablePath());
    std::u16string local = folder + u"\\" + (m_debug ? kLocalDebugDocument : kLocalDocument);

    if (m_debug && m_readLocal) {
        LOG(u"此时为调试模式，并且是从本地读取xml");
        // The path goes through the ANSI code page, as the local document's reader takes it.
        std::string narrow = text::toAnsi(local);
        std::u16string path = text::fromAnsi(narrow);
        std::string content;
        // A file that is missing or cannot be read leaves nothing to do.
        if (narrow.empty() || !app::fileExists(path) || !plat::readWholeFile(path, content))
            return ended(fetch::Verdict::NothingToDo);
        if (!localDocumentAccepted(path, content)) return ended(fetch::Verdict::NothingToDo);
        return walkText(content);
    }
    // A stale local copy never survives a server run.
    if (app::fileExists(local)) plat::deleteFile(local);
    std::string body;
    if (!fetchUpdateDocument(m_debug ? kServerDebugDocument : kServerDocument, body) || body.empty())
        return ended(fetch::Verdict::NoDocument);
    std::string copy = cleanDocumentBody(body);
    body = std::string();
    // Best effort: a copy that cannot be written never stops the run.
    if (app::diag::loggingOn()) plat::writeWholeFile(kPrintLogCopy, copy);
    return walkText(copy);
}

// The local debug document is held to the same rule as a fetched one: its signature lies
// beside it, and it is known by the path of the served document of its name.
bool UpdateDriver::localDocumentAccepted(const std::u16string& path, const std::string& content) {
    if (!m_machine.signedDocuments) return true;
    std::string signature;
    std::u16string signaturePath = app::signing::signatureLocation(path);
    // Signed as the served document of the same name is.
    std::u16string servedPath = app::signing::kProductFolder + path.substr(path.find_last_of(u"\\/") + 1);
    std::u16string reason = app::fileExists(signaturePath) && plat::readWholeFile(signaturePath, signature)
                                ? app::signing::refusalOfPath(content, signature, servedPath)
                                : std::u16string(app::signing::kNoSignature);
    if (reason.empty()) return true;
    LOG(app::signing::refusalLine(path, reason));
    return false;
}

RunDecision UpdateDriver::walkText(const std::string& text) {
    std::vector<DocumentItem> items;
    if (!parseUpdateDocument(text, items)) return ended(fetch::Verdict::NoUpdate);
    return walkDocument(items, m_host, m_machine).decision;
}

namespace {

// The state a walk gathers from the document as it goes.
class Walk {
public:
    Walk(RuleHost& host, const WalkMachine& machine) : m_host(host), m_machine(machine) {
        m_context.regions = machine.regions;
        m_context.signedDocuments = machine.signedDocuments;
    }

    // True when the item ends the walk.
    bool take(const DocumentItem& item, WalkResult& result) {
        using Kind = DocumentItem::Kind;
        switch (item.kind) {
            case Kind::Domains: addDomains(item.texts); break;
            case Kind::Paths: addNamedPaths(item.paths, m_host, m_context.folders); break;
            case Kind::ClientPath: {
                std::u16string path = item.texts.front();
                if (m_host.readRegistryPath(path) && !path.empty()) m_context.clientPath = path;
                break;
            }
            case Kind::RecentFiles:
                m_recentFiles.insert(m_recentFiles.end(), item.texts.begin(), item.texts.end());
                cleanPackageDirectory(m_machine.saveDirectory, m_recentFiles);
                break;
            case Kind::Update: return takeUpdate(item, result);
        }
        return false;
    }

private:
    void addDomains(const std::vector<std::u16string>& domains) {
        int counter = 1;
        for (const std::u16string& domain : domains) {
            if (domain.empty()) continue;
            m_packageDomains.push_back(domain);
            LOG(u"domain%d->%s", counter++, domain);
        }
    }

    bool takeUpdate(const DocumentItem& item, WalkResult& result) {
        ElementVerdict verdict = elementVerdict(item, m_context, m_host);
        fetch::PackageJob job;
        if (verdict.applies()) {
            job.package = item.update;
            // Without signed documents the package is checked as it always was, by its md5 alone.
            if (!m_context.signedDocuments) job.package.sha256.clear();
            job.domains = m_packageDomains;
            job.saveDirectory = m_machine.saveDirectory;
            job.clientId = m_machine.clientId;
            verdict.package = decidePackage(item.update, job);
        }
        logVerdict(verdict, item);
        result.elements.push_back(verdict);
        if (!verdict.taken()) return false;
        bool present = verdict.package->state == PackageVerdict::State::Present;
        result.decision.verdict = present ? fetch::Verdict::PackagePresent : fetch::Verdict::Download;
        result.decision.job = std::move(job);
        return true;
    }

    RuleHost& m_host;
    const WalkMachine& m_machine;
    RuleContext m_context;
    std::vector<std::u16string> m_packageDomains;
    std::vector<std::u16string> m_recentFiles;
};

}  // namespace

WalkResult walkDocument(const std::vector<DocumentItem>& items, RuleHost& host, const WalkMachine& machine) {
    Walk walk(host, machine);
    WalkResult result;
    for (const DocumentItem& item : items)
        if (walk.take(item, result)) break;
    return result;
}

}  // namespace decision
