// update.pre.xml: the staged files waiting for the swap, written after staging and read
// by the swap (possibly by a later run).
#include <algorithm>
#include <tuple>

#include "app/signed_document.h"
#include "modules/module_paths.h"
#include "modules/module_updater.h"
#include "platform/files.h"
#include "text/text.h"
#include "xml/xml_document.h"

namespace modules {

namespace {

constexpr char16_t kDeclaration[] = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
constexpr size_t kMaxPathChars = 259;

// What the staging list says of one file: where it goes, where it waits, its digests.
using Listed = std::tuple<std::u16string, std::u16string, std::u16string, std::u16string>;

Listed listedAs(const std::u16string& oldFile, const ModuleEntry& e) {
    return {oldFile, e.stagedPath, e.md5, e.sha256};
}

std::vector<Listed> sorted(std::vector<Listed> files) {
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

bool ModuleUpdater::SaveUpdateFilesToUpdatePrepareXml(const std::vector<ModuleEntry>& entries,
                                                      const std::u16string& path) {
    if (!DeleteAndCheck(path)) return false;
    XmlDocument doc(kDeclaration);
    doc.addElement(u"root");
    doc.enterElement();
    for (const auto& e : entries) {
        if (!e.needsUpdate) continue;
        doc.addElement(u"File");
        doc.setAttribute(u"md5", e.md5);
        // The swap checks this too: the MD5 alone is no proof against a file made to match.
        if (app::signing::required()) doc.setAttribute(u"sha256", e.sha256);
        doc.setAttribute(u"OldFile", paths::oldFileFor(m_playerPath, e.name));
        doc.setAttribute(u"NewFile", e.stagedPath);
    }
    doc.leaveElement();
    return doc.saveFile(path);
}

bool ModuleUpdater::ParsePrepareList(const std::u16string& path, const std::u16string& base,
                                     std::vector<ModuleEntry>& entries) {
    XmlDocument doc;
    if (!doc.loadFile(path) || !doc.findElement(u"root") || !doc.enterElement()) return false;
    while (doc.findElement(u"File")) {
        ModuleEntry e;
        e.md5 = doc.readAttribute(u"md5");
        e.sha256 = doc.readAttribute(u"sha256");
        e.installedPath = doc.readAttribute(u"OldFile");
        e.stagedPath = doc.readAttribute(u"NewFile");
        // The list lies on disk between runs; a path in it that leads out of the player
        // folder is refused before anything moves.
        if (!paths::staysInside(e.installedPath, base) || !paths::staysInside(e.stagedPath, base))
            return false;
        e.installedDir = plat::parentFolder(e.installedPath.substr(0, kMaxPathChars));
        entries.push_back(std::move(e));
    }
    doc.leaveElement();
    return true;
}

bool ModuleUpdater::DropStaleStagingList(const std::vector<ModuleEntry>& entries, const std::u16string& base,
                                         const std::u16string& listPath) {
    if (!plat::pathExists(listPath)) return true;
    std::vector<Listed> wanted, left;
    for (const auto& e : entries)
        if (e.needsUpdate) wanted.push_back(listedAs(paths::oldFileFor(m_playerPath, e.name), e));
    std::vector<ModuleEntry> listed;
    bool parsed = ParsePrepareList(listPath, base, listed);
    for (const auto& e : listed) left.push_back(listedAs(e.installedPath, e));
    if (parsed && sorted(left) == sorted(wanted)) return true;
    // Taking the list away would leave its backups with nothing that knows where they go.
    if (swapBegun(listed)) {
        log(u"stale staging list %s kept: its swap is not rolled back", listPath);
        return false;
    }
    log(u"stale staging list %s removed: the module list asks for other files", listPath);
    // Staged files this run wants were checked against the new list and stay.
    std::u16string staging = paths::stagingFolder(base);
    for (const auto& e : listed) {
        auto same = [&](const Listed& w) { return std::get<1>(w) == e.stagedPath; };
        bool stillWanted = std::any_of(wanted.begin(), wanted.end(), same);
        if (!stillWanted && plat::isInsideFolder(e.stagedPath, staging)) plat::deleteFile(e.stagedPath);
    }
    return DeleteAndCheck(listPath);
}

}  // namespace modules
