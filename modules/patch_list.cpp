// The patches of update.xml: "Patch" elements beside the "File" elements, each naming its
// module,
//   <File md5=".." zipmd5=".." ...>name</File>
//   <Patch file="name" from="MD5" fromsha256=".." size="N" md5=".." sha256=".."
//          href="bin/name.MD5.patch"/>
// A reader that knows nothing of them walks the "File" elements only and passes them by,
// and the "File" elements are exactly what they were.
#include <cstdint>

#include "app/sha256.h"
#include "app/signed_document.h"
#include "modules/module_paths.h"
#include "modules/module_updater.h"
#include "xml/xml_document.h"

namespace modules {

namespace {

bool isMd5Text(const std::u16string& t) {
    if (t.size() != 32) return false;
    for (char16_t c : t)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
    return true;
}

// A plain decimal size, 1 to 2^63 - 1; 0 for anything else.
uint64_t sizeOf(const std::u16string& t) {
    if (t.empty() || t.size() > 18) return 0;
    uint64_t v = 0;
    for (char16_t c : t) {
        if (c < u'0' || c > u'9') return 0;
        v = v * 10 + static_cast<uint64_t>(c - u'0');
    }
    return v;
}

bool readPatch(const XmlDocument& doc, const std::u16string& sourceDir, const std::u16string& name,
               ModulePatch& p) {
    p.fromMd5 = doc.readAttribute(u"from");
    p.fromSha256 = doc.readAttribute(u"fromsha256");
    p.size = sizeOf(doc.readAttribute(u"size"));
    p.md5 = doc.readAttribute(u"md5");
    p.sha256 = doc.readAttribute(u"sha256");
    // The place is fixed by the name and the old file's digest; the list names it too so
    // that it can be read there, and a list that names another place is not trusted with it.
    std::u16string place = paths::patchPlace(name, p.fromMd5);
    if (!isMd5Text(p.fromMd5) || !isMd5Text(p.md5) || p.size == 0 || doc.readAttribute(u"href") != place)
        return false;
    if (app::signing::required() && (!app::isSha256Text(p.fromSha256) || !app::isSha256Text(p.sha256)))
        return false;
    p.url = paths::servedUrl(sourceDir, place);
    return true;
}

}  // namespace

void ModuleUpdater::readModulePatches(const std::string& list, const std::u16string& sourceDir,
                                      std::vector<ModuleEntry>& entries) {
    XmlDocument doc;
    if (!doc.loadBytes(list) || !doc.findElement(u"root") || !doc.enterElement()) return;
    while (doc.findElement(u"Patch")) {
        std::u16string name = doc.readAttribute(u"file");
        for (ModuleEntry& e : entries) {
            ModulePatch p;
            if (e.name == name && readPatch(doc, sourceDir, e.name, p)) e.patches.push_back(std::move(p));
        }
    }
}

}  // namespace modules
