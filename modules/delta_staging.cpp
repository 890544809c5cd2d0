// A changed module staged from a patch against the installed file instead of its full
// archive: the patch is fetched (never beyond its listed size) and checked, applied in
// memory to the installed file's bytes, and the result is staged only when it is exactly
// the listed file. Any doubt ends the attempt with one line and the caller takes the full
// archive in the same run; a patch is tried once.
#include <algorithm>

#include "app/md5.h"
#include "app/sha256.h"
#include "app/signed_document.h"
#include "modules/module_updater.h"
#include "modules/patch_apply.h"
#include "modules/patch_format.h"
#include "platform/files.h"
#include "text/text.h"

namespace modules {

namespace {

// The whole file, read without sharing, when it is at most maxBytes long.
bool readCapped(const std::u16string& path, uint64_t maxBytes, std::string& bytes) {
    auto file = plat::openFile(path, plat::OpenMode::ReadExclusive);
    uint64_t size = 0;
    if (!file || !file->size(size) || size > maxBytes) return false;
    try {
        bytes.assign(static_cast<size_t>(size), '\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        int64_t n = file->read(&bytes[done], bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    char more = 0;
    return file->read(&more, 1) == 0;
}

bool bytesMatch(const std::string& bytes, const std::u16string& md5, const std::u16string& sha256) {
    if (text::fromUtf8(app::md5OfBuffer(bytes.data(), bytes.size())) != md5) return false;
    return sha256.empty() || app::sha256Matches(app::sha256OfBuffer(bytes.data(), bytes.size()), sha256);
}

}  // namespace

bool ModuleUpdater::StageFromPatch(const ModuleEntry& e, const std::u16string& installedMd5) {
    if (e.patches.empty()) return false;
    auto p = std::find_if(e.patches.begin(), e.patches.end(),
                          [&](const ModulePatch& c) { return !installedMd5.empty() && c.fromMd5 == installedMd5; });
    auto fallBack = [&](std::u16string_view why) {
        log(u"patch of %s not taken (%s), taking the full archive", e.name, why);
        return false;
    };
    if (p == e.patches.end()) return fallBack(u"none applies to the installed file");
    if (p->size > patch::kMaxFileBytes) return fallBack(u"patch too large");
    std::string old;
    if (!readCapped(e.installedPath, patch::kMaxFileBytes, old)) return fallBack(u"installed file unreadable or too large");
    // The SHA-256 digests count where the list was signed, as for archives.
    bool sign = app::signing::required();
    if (sign && (!app::isSha256Text(p->sha256) || !app::isSha256Text(p->fromSha256)))
        return fallBack(u"no sha256 in the signed list");
    if (!bytesMatch(old, p->fromMd5, sign ? p->fromSha256 : u"")) return fallBack(u"installed file changed");

    std::u16string patchPath = e.stagedPath + u".patch";
    std::string bytes;
    bool fetched = DeleteAndCheck(patchPath) && CreateMultiDirectory(e.stagedDir) &&
                   DownloadFile(p->url, patchPath, fetch::ModuleBody::Archive, p->size) &&
                   plat::readWholeFile(patchPath, bytes);
    plat::deleteFile(patchPath);
    if (!fetched) return fallBack(u"download failed");
    if (bytes.size() != p->size || !bytesMatch(bytes, p->md5, sign ? p->sha256 : u"")) return fallBack(u"patch digest or size wrong");

    std::string updated;
    std::u16string why;
    if (!applyPatch(old, bytes, patch::kMaxFileBytes, updated, why)) return fallBack(u"patch unusable: " + why);
    old.clear();
    old.shrink_to_fit();
    if (!bytesMatch(updated, e.md5, e.sha256)) return fallBack(u"result differs from the listed file");
    // Staged as an unpacked archive's file is: written whole (flushed, then renamed into
    // place) and checked where it lies.
    if (!DeleteAndCheck(e.stagedPath, true) || !plat::writeWholeFile(e.stagedPath, updated) ||
        !CompareFileDigests(e.stagedPath, e.md5, e.sha256)) {
        plat::deleteFile(e.stagedPath);
        return fallBack(u"staged file not written");
    }
    log(u"patch of %s applied: %d bytes instead of the full archive", e.name, static_cast<long long>(p->size));
    return true;
}

}  // namespace modules
