#include "tools/publish/module_patches.h"

#include <system_error>

#include "modules/module_paths.h"
#include "text/text.h"
#include "tools/publish/patch_maker.h"
#include "xml/xml_document.h"

namespace publish {

namespace {

constexpr char kPatchExtension[] = ".patch";

std::string placeOf(const fs::path& relative, const std::string& fromMd5) {
    return text::toUtf8(modules::paths::patchPlace(agentPath(relative), text::fromUtf8(fromMd5)));
}

bool alreadyListed(const std::vector<ListedPatch>& listed, const std::string& fromMd5) {
    for (const auto& p : listed)
        if (p.fromMd5 == fromMd5) return true;
    return false;
}

// The patch listed last time for the same earlier and new files, when its file is intact.
bool keepable(const fs::path& out, const PreviousPatches* before, const Digests& file, const ListedPatch& wanted,
              ListedPatch& kept) {
    if (!before || before->md5 != file.md5) return false;
    for (const auto& p : before->patches) {
        std::string bytes;
        if (p.fromMd5 != wanted.fromMd5 || p.place != wanted.place || !readBytes(out / p.place, bytes)) continue;
        Digests d = digestsOf(bytes);
        if (d.md5 != p.md5) continue;
        kept = wanted;
        kept.md5 = d.md5, kept.sha256 = d.sha256, kept.size = d.size;
        return true;
    }
    return false;
}

}  // namespace

std::map<std::u16string, PreviousPatches> previousPatches(const fs::path& list) {
    std::map<std::u16string, PreviousPatches> found;
    XmlDocument doc;
    if (!fs::exists(list) || !doc.loadFile(agentPath(list)) || !doc.findElement(u"root") || !doc.enterElement())
        return found;
    while (doc.findElement(u"")) {
        if (doc.elementName() == u"File") {
            found[doc.getElementText()].md5 = text::toUtf8(doc.readAttribute(u"md5"));
        } else if (doc.elementName() == u"Patch") {
            ListedPatch p;
            p.fromMd5 = text::toUtf8(doc.readAttribute(u"from"));
            p.md5 = text::toUtf8(doc.readAttribute(u"md5"));
            p.place = text::toUtf8(doc.readAttribute(u"href"));
            found[doc.readAttribute(u"file")].patches.push_back(p);
        }
    }
    return found;
}

bool patchesFor(const fs::path& out, const fs::path& relative, const std::string& data, const Digests& file,
                uint64_t zipSize, const std::vector<fs::path>& earlier, const PreviousPatches* before,
                std::vector<ListedPatch>& listed, PatchCounts& counts, std::string& error) {
    for (const fs::path& folder : earlier) {
        std::string old;
        if (!fs::is_regular_file(folder / relative) || !readBytes(folder / relative, old)) continue;
        Digests from = digestsOf(old);
        if (from.md5 == file.md5 || old.empty() || alreadyListed(listed, from.md5)) continue;
        ListedPatch p;
        p.fromMd5 = from.md5, p.fromSha256 = from.sha256, p.place = placeOf(relative, from.md5);
        ListedPatch kept;
        if (keepable(out, before, file, p, kept)) {
            listed.push_back(kept);
            ++counts.kept;
            continue;
        }
        std::string patch;
        if (!makePatch(old, data, patch)) return error = utf8(folder / relative) + ": cannot make a patch", false;
        // A patch that saves less than half the archive is not worth a second way to fail.
        if (patch.size() * 2 >= zipSize) continue;
        if (!writeBytes(out / p.place, patch)) return error = utf8(out / p.place) + ": cannot write", false;
        Digests d = digestsOf(patch);
        p.md5 = d.md5, p.sha256 = d.sha256, p.size = d.size;
        listed.push_back(p);
        ++counts.written;
    }
    return true;
}

void addPatchElements(XmlDocument& list, const std::u16string& name, const std::vector<ListedPatch>& patches) {
    for (const ListedPatch& p : patches) {
        list.addElement(u"Patch");
        list.setAttribute(u"file", name);
        list.setAttribute(u"from", text::fromUtf8(p.fromMd5));
        list.setAttribute(u"fromsha256", text::fromUtf8(p.fromSha256));
        list.setAttribute(u"size", text::fromUtf8(std::to_string(p.size)));
        list.setAttribute(u"md5", text::fromUtf8(p.md5));
        list.setAttribute(u"sha256", text::fromUtf8(p.sha256));
        list.setAttribute(u"href", text::fromUtf8(p.place));
    }
}

int removeUnlisted(const fs::path& out, const std::set<fs::path>& listed) {
    int removed = 0;
    std::error_code ec;
    if (!fs::is_directory(out / "bin")) return 0;
    std::vector<fs::path> stale;
    for (const auto& entry : fs::recursive_directory_iterator(out / "bin", ec))
        if (entry.is_regular_file() && entry.path().extension() == kPatchExtension &&
            !listed.count(entry.path().lexically_normal()))
            stale.push_back(entry.path());
    for (const fs::path& p : stale)
        if (fs::remove(p, ec)) ++removed;
    return removed;
}

}  // namespace publish
