// The index of a folder holds its names by lower-cased name and the folder's identity and
// change times when it was read. A lookup trusts it only while the folder still has them,
// so a change made by another process is seen at the next lookup. The backend's own
// creates, deletes and renames update the index in place and take the folder's new times.
// (Where the file system's time stamps are coarse, a change by another process in the same
// tick as one of ours could go unseen until the folder changes again; the kernels and file
// systems this host runs on stamp a folder finely once its times have been read.)
#include "platform/posix/folder_names.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "text/text.h"

namespace plat::posix {

namespace {

// Bounds on what the indexes hold; past them an index is not kept and lookups scan.
constexpr size_t kMaxFolders = 64;
constexpr size_t kMaxNamesPerFolder = 1u << 18;

struct FolderStamp {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{}, changed{};
    bool operator==(const FolderStamp& o) const {
        return device == o.device && inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
               changed.tv_nsec == o.changed.tv_nsec;
    }
};

struct FolderIndex {
    FolderStamp stamp;
    // Lower-cased name -> the names spelled that way in any case, smallest first.
    std::unordered_map<std::string, std::vector<std::string>> names;
};

// Built on first use, as lookups may come from other files' static initialisers. It is
// an object, not a pointer, so that a stand-in library that is unloaded takes its
// indexes with it.
struct Indexes {
    std::mutex mutex;
    std::unordered_map<std::string, FolderIndex> folders;
};

Indexes& indexes() {
    static Indexes all;
    return all;
}

std::string folded(const std::string& name) { return text::toUtf8(text::toLower(text::fromUtf8(name))); }

bool stampOf(const std::string& folder, FolderStamp& stamp) {
    struct stat st;
    if (::stat(folder.empty() ? "." : folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.modified = st.st_mtim;
    stamp.changed = st.st_ctim;
    return true;
}

void addName(FolderIndex& index, const std::string& name) {
    std::vector<std::string>& spellings = index.names[folded(name)];
    auto at = std::lower_bound(spellings.begin(), spellings.end(), name);
    if (at == spellings.end() || *at != name) spellings.insert(at, name);
}

void removeName(FolderIndex& index, const std::string& name) {
    auto found = index.names.find(folded(name));
    if (found == index.names.end()) return;
    auto& spellings = found->second;
    spellings.erase(std::remove(spellings.begin(), spellings.end(), name), spellings.end());
    if (spellings.empty()) index.names.erase(found);
}

// Reads the folder's names; false when it cannot be listed or holds too many to keep.
bool readFolder(const std::string& folder, FolderIndex& index) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return false;
    bool ok = true;
    size_t count = 0;
    while (dirent* entry = readdir(dir)) {
        if (++count > kMaxNamesPerFolder) {
            ok = false;
            break;
        }
        addName(index, entry->d_name);
    }
    closedir(dir);
    return ok;
}

// The current index of folder, read anew when the folder changed since; null when none
// can be kept.
const FolderIndex* currentIndex(const std::string& folder) {
    FolderStamp now;
    if (!stampOf(folder, now)) return nullptr;
    auto& folders = indexes().folders;
    auto known = folders.find(folder);
    if (known != folders.end() && known->second.stamp == now) return &known->second;
    if (known != folders.end()) folders.erase(known);
    if (folders.size() >= kMaxFolders) folders.clear();
    FolderIndex fresh;
    FolderStamp after;
    // A folder that changed while it was read is read again at the next lookup.
    if (!readFolder(folder, fresh) || !stampOf(folder, after) || !(after == now)) return nullptr;
    fresh.stamp = now;
    return &folders.emplace(folder, std::move(fresh)).first->second;
}

void splitPath(const std::string& path, std::string& folder, std::string& name) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder.clear();
        name = path;
    } else {
        folder = path.substr(0, slash == 0 ? 1 : slash);
        name = path.substr(slash + 1);
    }
}

void noteChange(const std::string& path, bool added) {
    std::string folder, name;
    splitPath(path, folder, name);
    std::lock_guard<std::mutex> lock(indexes().mutex);
    auto& folders = indexes().folders;
    auto known = folders.find(folder);
    if (known == folders.end()) return;
    FolderStamp now;
    if (name.empty() || !stampOf(folder, now) || now.device != known->second.stamp.device ||
        now.inode != known->second.stamp.inode) {
        folders.erase(known);
        return;
    }
    try {
        if (added) addName(known->second, name);
        else removeName(known->second, name);
        known->second.stamp = now;
    } catch (const std::bad_alloc&) {
        folders.erase(known);
    }
}

// A folder that cannot be indexed is scanned.
bool scanNoCase(const std::string& folder, const std::string& name, std::string& found) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return false;
    std::string wanted = folded(name);
    found.clear();
    while (dirent* entry = readdir(dir)) {
        std::string candidate = entry->d_name;
        if (folded(candidate) == wanted && (found.empty() || candidate < found)) found = candidate;
    }
    closedir(dir);
    return !found.empty();
}

}  // namespace

bool findNameNoCase(const std::string& folder, const std::string& name, std::string& found) {
    {
        std::lock_guard<std::mutex> lock(indexes().mutex);
        try {
            if (const FolderIndex* index = currentIndex(folder)) {
                auto match = index->names.find(folded(name));
                if (match == index->names.end()) return false;
                found = match->second.front();
                return true;
            }
        } catch (const std::bad_alloc&) {
            indexes().folders.clear();
        }
    }
    return scanNoCase(folder, name, found);
}

void noteNameAdded(const std::string& nativePath) { noteChange(nativePath, true); }
void noteNameRemoved(const std::string& nativePath) { noteChange(nativePath, false); }

}  // namespace plat::posix
