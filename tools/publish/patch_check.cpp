#include "tools/publish/patch_check.h"

#include <algorithm>

#include "app/sha256.h"
#include "modules/patch_apply.h"
#include "modules/patch_format.h"
#include "text/text.h"
#include "tools/publish/served_tree.h"
#include "xml/xml_document.h"

namespace publish {

namespace {

size_t patchElements(const std::string& bytes) {
    size_t count = 0;
    XmlDocument doc;
    if (!doc.loadBytes(bytes) || !doc.findElement(u"root") || !doc.enterElement()) return 0;
    while (doc.findElement(u"Patch")) ++count;
    return count;
}

fs::path earlierFile(const fs::path& folder, const std::u16string& name) {
    std::u16string generic = name;
    std::replace(generic.begin(), generic.end(), u'\\', u'/');
    return folder / fs::path(generic);
}

}  // namespace

void checkPatches(const PatchCheck& check, const fs::path& list, const std::string& bytes,
                  std::vector<modules::ModuleEntry> entries, const std::u16string& source,
                  std::vector<std::string>& problems, int& files) {
    auto problem = [&](const fs::path& at, const std::string& what) { problems.push_back(shown(check.root, at) + ": " + what); };
    modules::ModuleUpdater::readModulePatches(bytes, source, entries);
    size_t read = 0;
    for (const auto& e : entries) {
        for (const auto& p : e.patches) {
            ++read;
            std::string what = "patch of " + text::toUtf8(e.name) + " from " + text::toUtf8(p.fromMd5);
            if (check.needSha256 && (!app::isSha256Text(p.sha256) || !app::isSha256Text(p.fromSha256)))
                problem(list, what + " has no sha256 and fromsha256 of 64 hex digits (a signed deployment refuses it)");
            fs::path file = servedFile(check.root, p.url);
            std::string patch;
            if (file.empty() || !fs::is_regular_file(file) || !readBytes(file, patch)) {
                problem(list, what + " names " + (file.empty() ? "no file of this tree" : shown(check.root, file) + ", which is missing"));
                continue;
            }
            ++files;
            Digests d = digestsOf(patch);
            if (d.md5 != text::toUtf8(p.md5) || d.size != p.size ||
                (!p.sha256.empty() && !app::sha256Matches(d.sha256, p.sha256))) {
                problem(file, "size " + std::to_string(d.size) + " md5 " + d.md5 + ", " + what + " says size " +
                                  std::to_string(p.size) + " md5 " + text::toUtf8(p.md5));
                continue;
            }
            for (const fs::path& folder : check.earlier) {
                std::string old, result;
                std::u16string why;
                fs::path from = earlierFile(folder, e.name);
                if (!readBytes(from, old) || text::fromUtf8(digestsOf(old).md5) != p.fromMd5) continue;
                if (!modules::applyPatch(old, patch, modules::patch::kMaxFileBytes, result, why))
                    problem(file, "does not apply to " + utf8(from) + ": " + text::toUtf8(why));
                else if (text::fromUtf8(digestsOf(result).md5) != e.md5)
                    problem(file, "applied to " + utf8(from) + " gives md5 " + digestsOf(result).md5 + ", the list says " +
                                      text::toUtf8(e.md5));
                break;
            }
        }
    }
    if (read != patchElements(bytes))
        problem(list, std::to_string(patchElements(bytes) - read) +
                          " Patch elements name no listed module or are incomplete (file, from, size, md5, href)");
}

}  // namespace publish
