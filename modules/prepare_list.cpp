// update.pre.xml: the staged files waiting for the swap, written after staging and read
// by the swap (possibly by a later run).
#include "modules/module_paths.h"
#include "modules/module_updater.h"
#include "platform/files.h"
#include "xml/xml_document.h"

namespace {

constexpr char16_t kDeclaration[] = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
constexpr size_t kMaxPathChars = 259;

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
        doc.setAttribute(u"OldFile", modpaths::oldFileFor(m_playerPath, e.name));
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
        e.installedPath = doc.readAttribute(u"OldFile");
        e.stagedPath = doc.readAttribute(u"NewFile");
        // The list lies on disk between runs; a path in it that leads out of the player
        // folder is refused before anything moves.
        if (!modpaths::staysInside(e.installedPath, base) || !modpaths::staysInside(e.stagedPath, base))
            return false;
        e.installedDir = plat::parentFolder(e.installedPath.substr(0, kMaxPathChars));
        entries.push_back(std::move(e));
    }
    doc.leaveElement();
    return true;
}
