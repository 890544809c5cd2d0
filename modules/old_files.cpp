// Sweeping of retired backups and removal of the working folder.
#include <vector>
#include "modules/module_paths.h"
#include "modules/module_updater.h"
#include "platform/files.h"
#include "platform/system.h"
#include "text/text.h"

namespace modules {

namespace {

std::u16string withoutTrailingSlash(std::u16string path) {
    while (path.size() > 1 && path.back() == u'\\') path.pop_back();
    return path;
}

// The shell pattern "*.old", letter case ignored.
bool isRetiredBackup(const std::u16string& name) {
    constexpr size_t kSuffix = 4;
    return name.size() >= kSuffix && text::equalsNoCase(name.substr(name.size() - kSuffix), u".old");
}

bool isDotEntry(const plat::DirEntry& e) { return e.name == u"." || e.name == u".."; }

}  // namespace

bool ModuleUpdater::DeleteOldFiles(const std::u16string& dir) {
    std::u16string start = !dir.empty() && plat::pathExists(dir) ? dir : paths::agentFolder();
    if (!plat::pathExists(start)) return false;
    start = withoutTrailingSlash(start);
    std::vector<plat::DirEntry> entries;
    if (!plat::listDirectory(start, entries)) return false;
    for (const auto& e : entries) {
        if (isDotEntry(e)) continue;
        std::u16string path = start + u"\\" + e.name;
        if (e.isDirectory) {
            if (!DeleteOldFiles(path)) return false;
        } else if (isRetiredBackup(e.name)) {
            if (plat::deleteFile(path)) log(u"delete old file %s successed", path);
            else log(u"delete old file %s failed, errcode = %d", path, plat::lastErrorCode());
        }
    }
    return true;
}

void ModuleUpdater::DeleteDirectoryTree(const std::u16string& dir) {
    std::u16string folder = withoutTrailingSlash(dir);
    std::vector<plat::DirEntry> entries;
    if (plat::listDirectory(folder, entries)) {
        for (const auto& e : entries) {
            if (isDotEntry(e)) continue;
            std::u16string path = folder + u"\\" + e.name;
            if (e.isDirectory) {
                DeleteDirectoryTree(path);
            } else {
                plat::setFileAttributes(path, plat::kAttributeNormal);
                plat::deleteFile(path);
            }
        }
    }
    plat::setFileAttributes(folder, plat::kAttributeNormal);
    plat::removeDirectory(folder);
}

bool ModuleUpdater::ShellDeleteDirectory(const std::u16string& dir) {
    // Removes the folder with everything in it, whatever the attributes; a folder that
    // is not there counts as a failure, as the shell reports it.
    if (!plat::pathExists(dir)) return false;
    DeleteDirectoryTree(dir);
    return !plat::pathExists(dir);
}

}  // namespace modules
