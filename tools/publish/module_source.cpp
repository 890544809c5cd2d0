// ovpublish modules SOURCE_DIR OUT_DIR [--delta-from PREVIOUS_DIR ...] [--sign SECRET_KEY --root DIR]
//
// Every file below SOURCE_DIR becomes a module: OUT_DIR/update.xml lists it by its path
// with "\" separators and the digests of the file and of its archive, and
// OUT_DIR/bin/<path>.zip holds it under its bare name. An archive whose file has not
// changed since the last run is kept as it is, and the archives of files that are gone
// are removed, so a re-run rewrites only what changed. With --delta-from, each module that
// differs from the file at its path in an earlier release's folder also gets a patch from
// that file (module_patches.h).
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "app/minisign.h"
#include "text/text.h"
#include "tools/publish/commands.h"
#include "tools/publish/module_patches.h"
#include "tools/publish/options.h"
#include "tools/publish/patch_maker.h"
#include "tools/publish/served_tree.h"
#include "tools/publish/signing.h"
#include "tools/publish/zip_writer.h"
#include "xml/xml_document.h"

namespace publish {
namespace {

constexpr char kHelp[] =
    "usage: ovpublish modules SOURCE_DIR OUT_DIR [--delta-from PREVIOUS_DIR ...] [--sign SECRET_KEY --root DIR]\n"
    "Makes a module source: OUT_DIR/update.xml and one zip archive per file of SOURCE_DIR\n"
    "under OUT_DIR/bin/. Unchanged files keep their archives; with --sign, update.xml.minisig\n"
    "is written beside the list, naming the list's path below DIR, the served tree's root\n"
    "(OUT_DIR lies inside it), as the agent demands. Each --delta-from names a folder laid out\n"
    "as an earlier release installed the player: a file of SOURCE_DIR that differs from the\n"
    "file at its path there gets a patch from it (bin/<path>.<md5 of that file>.patch), listed\n"
    "in update.xml, when the patch is smaller than half the archive.\n";

struct Listed {
    std::string md5;
    std::string zipMd5;
};

// What the last run listed, by module name.
std::map<std::u16string, Listed> previousList(const fs::path& list) {
    std::map<std::u16string, Listed> listed;
    XmlDocument doc;
    if (!fs::exists(list) || !doc.loadFile(agentPath(list)) || !doc.findElement(u"root") || !doc.enterElement())
        return listed;
    while (doc.findElement(u"File"))
        listed[doc.getElementText()] = {text::toUtf8(doc.readAttribute(u"md5")),
                                        text::toUtf8(doc.readAttribute(u"zipmd5"))};
    return listed;
}

// True when the signature file is there and its trusted comment names the list as given.
bool signs(const fs::path& signature, const std::string& signedName) {
    std::string text;
    app::minisign::Signature parsed;
    return readBytes(signature, text) && app::minisign::parseSignature(text, parsed) &&
           app::minisign::readTrustedComment(parsed.trustedComment).file == signedName;
}

fs::path archiveOf(const fs::path& out, const fs::path& relative) {
    fs::path archive = out / "bin" / relative;
    archive += ".zip";
    return archive;
}

}  // namespace

int modulesCommand(int argc, char** argv) {
    Options o;
    std::string error;
    if (!parseOptions(argc, argv, {{"--sign", "--root", "--delta-from"}, {}}, o, error)) return fail(error);
    if (o.has("--help")) return std::fputs(kHelp, stdout), 0;
    if (o.positional.size() != 2) return fail("modules needs SOURCE_DIR and OUT_DIR (see --help)");
    if (o.has("--sign") && !o.has("--root"))
        return fail("modules --sign needs --root DIR, the served tree's root (see --help)");
    fs::path source = fromUtf8Path(o.positional[0]), out = fromUtf8Path(o.positional[1]);
    if (!fs::is_directory(source)) return fail(utf8(source) + ": not a folder");
    fs::path listPath = out / "update.xml";
    std::string signedName = o.has("--root") ? pathInTree(fromUtf8Path(o.value("--root")), listPath) : "";
    if (o.has("--root") && signedName.empty()) return fail(utf8(out) + ": not inside " + o.value("--root"));
    SecretKey key;
    if (o.has("--sign") && !loadSecretKey(fromUtf8Path(o.value("--sign")), key, error)) return fail(error);

    std::vector<fs::path> earlier;
    for (const std::string& folder : o.all("--delta-from")) {
        earlier.push_back(fromUtf8Path(folder));
        if (!fs::is_directory(earlier.back())) return fail(folder + ": not a folder");
    }
    if (!earlier.empty() && !canMakePatches()) return fail("--delta-from: this build of ovpublish cannot make patches");
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(source))
        if (entry.is_regular_file()) files.push_back(entry.path().lexically_relative(source));
    std::sort(files.begin(), files.end());

    std::map<std::u16string, Listed> before = previousList(listPath);
    std::map<std::u16string, PreviousPatches> patchesBefore = previousPatches(listPath);
    std::set<fs::path> patchFiles;
    PatchCounts patchCounts;
    XmlDocument list(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
    list.addElement(u"root");
    list.enterElement();
    int written = 0, kept = 0, removed = 0;
    for (const fs::path& relative : files) {
        std::string data, archiveBytes;
        if (!readBytes(source / relative, data)) return fail(utf8(source / relative) + ": cannot read");
        Digests file = digestsOf(data);
        fs::path archive = archiveOf(out, relative);
        std::u16string name = agentPath(relative);  // "\\" between folders
        auto old = before.find(name);
        bool unchanged = old != before.end() && old->second.md5 == file.md5 && readBytes(archive, archiveBytes) &&
                         digestsOf(archiveBytes).md5 == old->second.zipMd5;
        if (!unchanged) {
            std::string entryName = text::toAnsi(agentPath(relative.filename()));
            if (!writeOneFileZip(archive, entryName, data, modifiedSeconds(source / relative)) ||
                !readBytes(archive, archiveBytes)) {
                return fail(utf8(archive) + ": cannot write the archive");
            }
        }
        ++(unchanged ? kept : written);
        if (old != before.end()) before.erase(old);
        Digests zip = digestsOf(archiveBytes);
        list.addElement(u"File", name);
        list.setAttribute(u"md5", text::fromUtf8(file.md5));
        list.setAttribute(u"zipmd5", text::fromUtf8(zip.md5));
        list.setAttribute(u"sha256", text::fromUtf8(file.sha256));
        list.setAttribute(u"zipsha256", text::fromUtf8(zip.sha256));
        std::vector<ListedPatch> patches;
        auto previous = patchesBefore.find(name);
        if (!patchesFor(out, relative, data, file, archiveBytes.size(), earlier,
                        previous == patchesBefore.end() ? nullptr : &previous->second, patches, patchCounts, error))
            return fail(error);
        for (const ListedPatch& p : patches) patchFiles.insert((out / p.place).lexically_normal());
        addPatchElements(list, name, patches);
    }
    int patchesRemoved = removeUnlisted(out, patchFiles);
    for (const auto& gone : before) {
        std::error_code ec;
        std::u16string generic = gone.first;
        std::replace(generic.begin(), generic.end(), u'\\', u'/');
        if (fs::remove(archiveOf(out, fs::path(generic)), ec)) ++removed;
    }
    list.leaveElement();

    std::string text = text::toUtf8(list.text()), current;
    bool listChanged = !readBytes(listPath, current) || current != text;
    if (listChanged && !writeBytes(listPath, text)) return fail(utf8(listPath) + ": cannot write");
    fs::path signature = listPath;
    signature += ".minisig";
    bool sign = o.has("--sign") && (listChanged || !signs(signature, signedName));
    if ((sign || (listChanged && !o.has("--sign"))) &&
        !sealDocument(listPath, signedName, sign ? &key : nullptr, error))
        return fail(error);
    std::printf("%zu modules in %s: %d archives written, %d unchanged, %d removed\n", files.size(),
                utf8(out).c_str(), written, kept, removed);
    if (!earlier.empty() || patchesRemoved)
        std::printf("patches: %d written, %d unchanged, %d removed\n", patchCounts.written, patchCounts.kept,
                    patchesRemoved);
    return 0;
}

}  // namespace publish
