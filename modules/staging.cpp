// Download and staging: update.xml names the player's replaceable files with their
// digests; each installed file that differs is fetched as a one-file zip archive, checked,
// unpacked into the staging folder and listed in update.pre.xml for the swap. Archives and
// staged files left by an interrupted run are reused when their digests still match. A
// module the list offers a patch for, from exactly the installed file, is built from the
// patch instead, and from the full archive when anything about the patch is in doubt.
#include "app/sha256.h"
#include "app/signed_document.h"
#include "modules/module_paths.h"
#include "modules/module_updater.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "text/text.h"
#include "xml/xml_document.h"

namespace modules {

namespace {

constexpr int kDownloadAttempts = 3;
constexpr uint32_t kRetryPauseMs = 10;

}  // namespace

bool ModuleUpdater::DoUpdateNow(const std::u16string& sourceDir, const std::u16string& root) {
    log(u"DoUpdateNow start");
    std::u16string base = paths::baseFolder(root);
    std::u16string work = paths::workingFolder(base);
    if (!CreateMultiDirectory(work)) return false;
    std::u16string listPath = paths::moduleListPath(base);
    if (!DeleteAndCheck(listPath)) return false;
    std::u16string listUrl = text::format(u"%s/%s", sourceDir, paths::kModuleList);
    if (!DownloadFile(listUrl, listPath, fetch::ModuleBody::Document)) {
        log(u"download xml %s to path %s failed\r\n", listUrl, listPath);
        return false;
    }
    // Read once: the bytes whose signature is checked are the bytes that are parsed, so a
    // change to the file in between reaches neither.
    std::string list;
    bool read = plat::readWholeFile(listPath, list);
    if (app::signing::required() && (!read || !DocumentAccepted(listUrl, list))) {
        plat::deleteFile(listPath);
        return false;
    }
    std::u16string stagingDir = paths::stagingFolder(base);
    if (!CreateMultiDirectory(stagingDir)) return false;
    std::vector<ModuleEntry> entries;
    if (!ParseUpdateModuleList(sourceDir, base, list, stagingDir, entries)) {
        log(u"ParseUpdateModuleList %s failed\r\n", listPath);
        return false;
    }
    readModulePatches(list, sourceDir, entries);
    uint64_t started = plat::clock().monotonicMs();
    int count = 0;
    if (!CheckAndDownloadModulesByList(entries, count)) {
        log(u"CheckAndDownloadModulesByList failed");
        return false;
    }
    log(u"CheckAndDownloadModulesByList %d files need update, use time:%d", count,
        static_cast<long long>(plat::clock().monotonicMs() - started));
    std::u16string stagingList = paths::stagingListPath(base);
    if (!DropStaleStagingList(entries, base, stagingList)) return false;
    if (count == 0) return true;

    // The staged files were flushed as they were written; their names reach the disk
    // before the list that names them.
    for (const ModuleEntry& e : entries)
        if (e.needsUpdate) plat::flushFolder(e.stagedDir);
    log(u"SaveUpdateFilesToUpdatePrepareXml");
    if (!SaveUpdateFilesToUpdatePrepareXml(entries, stagingList)) {
        log(u"Save Prepare xml %s failed\r\n", stagingList);
        return false;
    }
    return true;
}

bool ModuleUpdater::ParseUpdateModuleList(const std::u16string& sourceDir, const std::u16string& base,
                                          const std::string& list, const std::u16string& stagingDir,
                                          std::vector<ModuleEntry>& entries) {
    XmlDocument doc;
    if (!doc.loadBytes(list) || !doc.findElement(u"root") || !doc.enterElement()) return false;
    while (doc.findElement(u"File")) {
        ModuleEntry e;
        e.name = doc.getElementText();
        e.md5 = doc.readAttribute(u"md5");
        e.zipMd5 = doc.readAttribute(u"zipmd5");
        if (e.name.empty() || e.md5.empty() || e.zipMd5.empty()) return false;
        if (app::signing::required()) {
            e.sha256 = doc.readAttribute(u"sha256");
            e.zipSha256 = doc.readAttribute(u"zipsha256");
            if (!app::isSha256Text(e.sha256) || !app::isSha256Text(e.zipSha256)) return false;
        }
        // The name comes from the network: it must not lead out of the player folder,
        // neither where it is checked and staged nor where the swap will put it. The
        // installed file is compared where the swap puts it (a name under ".\Orvix\"
        // lands directly in the player folder), or it would differ on every run.
        std::u16string installed = paths::oldFileFor(base, e.name);
        std::u16string staged = stagingDir + u"\\" + e.name;
        if (!paths::staysInside(installed, base) || !paths::staysInside(staged, stagingDir) ||
            !paths::staysInside(paths::oldFileFor(m_playerPath, e.name), m_playerPath)) {
            return false;
        }
        e.archiveUrl = paths::archiveUrl(sourceDir, e.name);
        e.installedPath = plat::canonicalPath(installed);
        e.installedDir = plat::parentFolder(e.installedPath);
        e.stagedPath = plat::canonicalPath(staged);
        e.archivePath = e.stagedPath + u".zip";
        e.stagedDir = plat::parentFolder(e.stagedPath);
        entries.push_back(std::move(e));
    }
    doc.leaveElement();
    return true;
}

bool ModuleUpdater::CheckAndDownloadModulesByList(std::vector<ModuleEntry>& entries, int& count) {
    count = 0;
    for (ModuleEntry& e : entries) {
        // A file the player holds open gives no digest and so counts as changed.
        app::DigestFinding installed = moduleDigests(e.installedPath, e.md5);
        if (installed.md5Equal) continue;
        e.needsUpdate = true;
        ++count;
        if (CompareFileDigests(e.stagedPath, e.md5, e.sha256)) continue;  // staged by an earlier run
        if (StageFromPatch(e, installed.md5)) continue;

        if (!CompareFileDigests(e.archivePath, e.zipMd5, e.zipSha256)) {
            if (!DeleteAndCheck(e.archivePath) || !CreateMultiDirectory(e.stagedDir)) return false;
            bool downloaded = false;
            for (int attempt = 0; attempt < kDownloadAttempts && !downloaded; ++attempt) {
                log(u"%d times download %d file", attempt, count);
                if (DownloadFile(e.archiveUrl, e.archivePath)) {
                    // A wrong archive will not get better by fetching it again.
                    if (!CompareFileDigests(e.archivePath, e.zipMd5, e.zipSha256)) {
                        plat::deleteFile(e.archivePath);
                        return false;
                    }
                    downloaded = true;
                } else {
                    plat::clock().sleepMs(kRetryPauseMs);
                }
            }
            if (!downloaded) return false;
        }
        // A folder at the staged path (an archive whose entry was a folder) would block
        // every later run; it goes like a file would.
        if (!DeleteAndCheck(e.stagedPath, true)) return false;
        if (!UnZipOneFile(e.stagedDir, e.archivePath)) {
            plat::deleteFile(e.archivePath);
            log(u"UnZipOneFile %s to path %s failed return\r\n", e.archivePath, e.stagedDir);
            return false;
        }
        plat::deleteFile(e.archivePath);
        log(u"UnZip and delete success");
        if (!CompareFileDigests(e.stagedPath, e.md5, e.sha256)) return false;
    }
    return true;
}

}  // namespace modules
