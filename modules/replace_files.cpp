// The swap of staged files into the installation. Each installed file is moved aside to
// its ".bak" name before the new one moves in; a module that was not installed before
// gets an ".added" mark first. Any failure moves every ".bak" back and takes every added
// module away, so the installation is wholly old again. After a full success the backups
// become ".old" files, which are deleted now or, while the running player still holds
// them, by a later run.
#include <vector>

#include "app/signed_document.h"
#include "modules/folder_names.h"
#include "modules/module_paths.h"
#include "modules/module_updater.h"
#include "platform/files.h"
#include "text/text.h"

namespace modules {

namespace {

std::u16string backupOf(const std::u16string& path) { return path + paths::kBackupSuffix; }
std::u16string retiredOf(const std::u16string& path) { return path + paths::kRetiredSuffix; }
std::u16string addedMarkOf(const std::u16string& path) { return path + paths::kAddedSuffix; }

// The mark is on the disk before the module moves in, so that a crash between the two
// still leaves a rollback that knows the module is new.
bool markAdded(const std::u16string& path) {
    return plat::writeWholeFile(addedMarkOf(path), "") && plat::flushFolder(plat::parentFolder(path));
}

// After the renames of a swap or a rollback: their names reach the disk.
void flushFolders(const std::vector<ModuleEntry>& entries) {
    for (const auto& e : entries) plat::flushFolder(e.installedDir);
}

}  // namespace

int ModuleUpdater::ReplaceFiles(const std::u16string& root) {
    log(u"replace files start");
    std::u16string base = paths::baseFolder(root);
    DeleteOldFiles(base);

    std::u16string work = paths::workingFolder(base);
    if (!plat::pathExists(work)) {
        log(u"replace: path %s has not OvUpdate dir return", base);
        return 0;
    }
    std::u16string listPath = paths::stagingListPath(base);
    if (!plat::pathExists(listPath)) {
        DeleteDirectoryTree(work);
        log(u"%s has no update.pre.xml return", work);
        return 0;
    }
    std::vector<ModuleEntry> entries;
    if (!ParsePrepareList(listPath, base, entries)) {
        log(u"replace: parse %s failed return", listPath);
        return 0;
    }
    int count = static_cast<int>(entries.size());
    if (count == 0) {
        log(u"replace: update info empty");
        return 0;
    }
    RollbackFiles(entries);  // backups of a swap that was cut short go back first

    log(u"replace new files start");
    if (!ReplaceNewFiles(entries)) {
        log(u"replace files failed, begin rollback");
        RollbackFiles(entries);
        log(u"replace files failed, rollback finish and return");
        return -1;
    }
    log(u"replace new files success");
    finishSwap(entries, listPath);
    DeleteOldFiles(base);
    DeleteDirectoryTree(work);
    ShellDeleteDirectory(work);
    log(u"replace count %d success", count);
    return count;
}

bool ModuleUpdater::ReplaceNewFiles(const std::vector<ModuleEntry>& entries) {
    for (const auto& e : entries) {
        if (!matchesStagingList(e.stagedPath, e)) return false;
        std::u16string backup = backupOf(e.installedPath);
        if (!DeleteAndCheck(backup)) return false;
        CreateMultiDirectory(e.installedDir);  // a new module may bring a new folder
        if (!plat::pathExists(e.installedPath) && !markAdded(e.installedPath)) {
            log(u"mark %s as added failed", e.installedPath);
            return false;
        }
        if (plat::pathExists(e.installedPath)) {
            if (!plat::moveFile(e.installedPath, backup, true)) {
                log(u"move %s to %s failed", e.installedPath, backup);
                return false;
            }
            log(u"move %s to %s success", e.installedPath, backup);
        }
        if (plat::pathExists(e.installedPath) || !plat::pathExists(e.stagedPath)) {
            log(u"%s still exist or %s not exist", e.installedPath, e.stagedPath);
            return false;
        }
        if (!plat::moveFile(e.stagedPath, e.installedPath, true)) {
            log(u"move %s to %s failed", e.stagedPath, e.installedPath);
            return false;
        }
        log(u"move %s to %s success", e.stagedPath, e.installedPath);
        if (!matchesStagingList(e.installedPath, e)) return false;
    }
    return true;
}

bool ModuleUpdater::matchesStagingList(const std::u16string& path, const ModuleEntry& e) {
    if (app::signing::required() && e.sha256.empty()) {
        log(u"%s has no sha256 in the staging list", e.stagedPath);
        return false;
    }
    return CompareFileDigests(path, e.md5, e.sha256);
}

void ModuleUpdater::RollbackFiles(const std::vector<ModuleEntry>& entries) {
    log(u"rollback start");
    bool allMoved = true;
    FolderNames present;  // most modules left neither a backup nor a mark
    for (const auto& e : entries) {
        std::u16string backup = backupOf(e.installedPath), mark = addedMarkOf(e.installedPath);
        if (!present.mayHold(backup) && !present.mayHold(mark)) continue;
        if (plat::pathExists(backup)) {
            // The new file goes back to the staging folder, where a later run finds it.
            if (!e.stagedPath.empty() && plat::fileExists(e.installedPath) && !plat::pathExists(e.stagedPath))
                plat::moveFile(e.installedPath, e.stagedPath, true);
            DeleteAndCheck(e.installedPath);
            if (!plat::moveFile(backup, e.installedPath, true)) allMoved = false;
            log(u"Rollback %s to %s %s", backup, e.installedPath, app::diag::outcome(allMoved));
        } else if (plat::pathExists(mark)) {
            // The module was new: it goes back to the staging folder (a later run swaps it
            // in again without fetching it), or away.
            bool removed = !plat::pathExists(e.installedPath) ||
                           (!e.stagedPath.empty() && plat::moveFile(e.installedPath, e.stagedPath, true)) ||
                           plat::deleteFile(e.installedPath);
            if (removed) plat::deleteFile(mark);
            else allMoved = false;
            log(u"Rollback remove added %s %s", e.installedPath, app::diag::outcome(removed));
        }
    }
    flushFolders(entries);
    log(u"rollback finish");
}

void ModuleUpdater::RetireBackups(const std::vector<ModuleEntry>& entries) {
    for (const auto& e : entries) {
        // A module either replaced an installed file (it has a backup) or was added (it
        // has a mark), never both.
        std::u16string backup = backupOf(e.installedPath);
        if (!plat::pathExists(backup)) {
            plat::deleteFile(addedMarkOf(e.installedPath));
            continue;
        }
        std::u16string retired = retiredOf(e.installedPath);
        log(u"move %s to %s %s", backup, retired, app::diag::outcome(plat::moveFile(backup, retired, true)));
    }
}

void ModuleUpdater::finishSwap(const std::vector<ModuleEntry>& entries, const std::u16string& listPath) {
    // Every new file is in place. The list goes last: until then a crash leaves a swap
    // that the next start finishes.
    flushFolders(entries);
    RetireBackups(entries);
    flushFolders(entries);
    plat::deleteFile(listPath);
}

void ModuleUpdater::restoreInterruptedSwap(const std::u16string& base) {
    std::u16string listPath = paths::stagingListPath(base);
    std::vector<ModuleEntry> entries;
    if (!plat::pathExists(listPath) || !ParsePrepareList(listPath, base, entries) || entries.empty()) return;
    // The swap moves each staged file in last: with none left and every installed file the
    // new one, only the clean-up was cut short.
    bool allMovedIn = true;
    for (const auto& e : entries)
        allMovedIn =
            allMovedIn && !plat::pathExists(e.stagedPath) && moduleDigests(e.installedPath, e.md5).md5Equal;
    if (allMovedIn) {
        log(u"finish interrupted swap of %s", listPath);
        finishSwap(entries, listPath);
    } else if (swapBegun(entries)) {
        RollbackFiles(entries);
    }
}

bool ModuleUpdater::swapBegun(const std::vector<ModuleEntry>& entries) {
    for (const auto& e : entries) {
        const std::u16string& path = e.installedPath;
        if (plat::pathExists(backupOf(path)) || plat::pathExists(addedMarkOf(path))) return true;
    }
    return false;
}

}  // namespace modules
