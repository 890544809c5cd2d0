// Files and folders on POSIX with the Windows behaviour the core relies on: "\" paths,
// letter case ignored for names that do not exist as given, read-only files that cannot
// be deleted or overwritten, exclusive opens that fail while someone else holds the file.
#include "platform/files.h"
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <new>
#include "platform/posix/folder_names.h"
#include "platform/posix/host.h"
#include "text/text.h"

namespace plat {

namespace {

std::string joinNative(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// Resolves each component that does not exist as written against its folder's
// entries, ignoring case; from the first component that matches nothing, the rest
// is kept as written.
std::string resolveCase(const std::string& path) {
    bool absolute = path[0] == '/';
    std::string current = absolute ? "/" : "";
    size_t pos = absolute ? 1 : 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(pos, end - pos);
        if (!part.empty()) {
            std::string next = joinNative(current, part);
            struct stat st;
            std::string match;
            if (part != "." && part != ".." && lstat(next.c_str(), &st) != 0) {
                if (!posix::findNameNoCase(current, part, match)) return next + path.substr(end);
                next = joinNative(current, match);
            }
            current = next;
        }
        pos = end + 1;
    }
    if (path.size() > 1 && path.back() == '/' && current.back() != '/') current += '/';
    return current;
}

bool statPath(const std::u16string& path, struct stat& st) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    return ::stat(nativePath(path).c_str(), &st) == 0;
}

bool isReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

FileIdentity identityOf(const struct stat& st) {
    FileIdentity id;
    id.volume = static_cast<uint64_t>(st.st_dev);
    id.fileId = static_cast<uint64_t>(st.st_ino);
    id.size = static_cast<uint64_t>(st.st_size);
    id.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

uint32_t attributesOf(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return kAttributeDirectory;
    return kAttributeArchive | (isReadOnly(st) ? kAttributeReadOnly : 0);
}

// Windows refuses to delete or overwrite a read-only file, also for an administrator.
bool refuseReadOnly(const std::string& native) {
    struct stat st;
    if (::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && isReadOnly(st)) {
        errno = EACCES;
        return true;
    }
    return false;
}

// The path with its folder resolved but its last component spelled as given: the
// name a new or renamed file gets.
std::string nativeLeaf(const std::u16string& path) {
    std::u16string p = path;
    for (auto& c : p)
        if (c == u'\\') c = u'/';
    size_t slash = p.rfind(u'/');
    if (slash == std::u16string::npos) return text::toUtf8(p);
    std::u16string folder = p.substr(0, slash);
    std::string base = folder.empty() ? std::string() : nativePath(folder);
    return base + "/" + text::toUtf8(p.substr(slash + 1));
}

class PosixFile : public File {
public:
    explicit PosixFile(int fd) : m_fd(fd) {}
    ~PosixFile() override { ::close(m_fd); }

    int64_t read(void* buffer, size_t size) override {
        for (;;) {
            ssize_t n = ::read(m_fd, buffer, size);
            if (n < 0 && errno == EINTR) continue;
            return n;
        }
    }
    bool write(const void* data, size_t size) override {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            ssize_t n = ::write(m_fd, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    bool size(uint64_t& size) override {
        struct stat st;
        if (fstat(m_fd, &st) != 0) return false;
        size = static_cast<uint64_t>(st.st_size);
        return true;
    }
    bool flush() override { return fsync(m_fd) == 0; }
    bool identity(FileIdentity& identity) override {
        struct stat st;
        if (fstat(m_fd, &st) != 0) return false;
        identity = identityOf(st);
        return true;
    }

private:
    int m_fd;
};

}  // namespace

std::string nativePath(const std::u16string& path) {
    std::u16string p = path;
    for (auto& c : p)
        if (c == u'\\') c = u'/';
    std::string native = text::toUtf8(p);
    struct stat st;
    if (native.empty() || lstat(native.c_str(), &st) == 0) return native;
    // Mostly only the last name is not there as written (a file about to be created, a
    // probe for a leftover): then its folder alone is looked in.
    size_t slash = native.rfind('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == native.size()) return resolveCase(native);
    std::string folder = native.substr(0, slash), name = native.substr(slash + 1), match;
    if (name == "." || name == ".." || lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return resolveCase(native);
    return posix::findNameNoCase(folder, name, match) ? joinNative(folder, match) : native;
}

bool fileExists(const std::u16string& path) {
    struct stat st;
    return statPath(path, st) && !S_ISDIR(st.st_mode);
}

bool directoryExists(const std::u16string& path) {
    struct stat st;
    return statPath(path, st) && S_ISDIR(st.st_mode);
}

bool pathExists(const std::u16string& path) {
    struct stat st;
    return statPath(path, st);
}

bool fileAttributes(const std::u16string& path, uint32_t& attributes) {
    struct stat st;
    if (!statPath(path, st)) return false;
    attributes = attributesOf(st);
    return true;
}

bool setFileAttributes(const std::u16string& path, uint32_t attributes) {
    std::string native = nativePath(path);
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttributeReadOnly) mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    else mode |= S_IWUSR;
    return chmod(native.c_str(), mode) == 0;
}

bool createDirectory(const std::u16string& path) {
    if (path.empty()) return false;
    std::string native = nativePath(path);
    struct stat st;
    if (lstat(native.c_str(), &st) == 0) {  // also under another letter case
        errno = EEXIST;
        return false;
    }
    if (mkdir(native.c_str(), 0755) != 0) return false;
    posix::noteNameAdded(native);
    return true;
}

bool createDirectoryTree(const std::u16string& path) {
    std::u16string canonical = canonicalPath(path);
    if (canonical.empty()) return false;
    std::u16string prefix;
    size_t pos = 0;
    while (pos <= canonical.size()) {
        size_t end = canonical.find(u'\\', pos);
        if (end == std::u16string::npos) end = canonical.size();
        prefix = canonical.substr(0, end);
        if (end > pos && !directoryExists(prefix) && !createDirectory(prefix) && !directoryExists(prefix))
            return false;
        pos = end + 1;
    }
    return directoryExists(canonical);
}

bool removeDirectory(const std::u16string& path) {
    if (path.empty()) return false;
    std::string native = nativePath(path);
    if (rmdir(native.c_str()) != 0) return false;
    posix::noteNameRemoved(native);
    return true;
}

bool deleteFile(const std::u16string& path) {
    if (path.empty()) return false;
    std::string native = nativePath(path);
    struct stat st;
    if (lstat(native.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (refuseReadOnly(native) || unlink(native.c_str()) != 0) return false;
    posix::noteNameRemoved(native);
    posix::fileChanged(native);
    return true;
}

static bool renameFile(const std::u16string& from, const std::u16string& to, bool replace) {
    std::string source = nativePath(from), target = nativePath(to);
    struct stat sourceStat, targetStat;
    if (from.empty() || to.empty() || lstat(source.c_str(), &sourceStat) != 0) {
        if (from.empty() || to.empty()) errno = ENOENT;
        return false;
    }
    auto moved = [&](const std::string& destination) {
        posix::noteNameRemoved(source);
        posix::noteNameAdded(destination);
        return true;
    };
    if (lstat(target.c_str(), &targetStat) == 0) {
        bool sameFile = targetStat.st_dev == sourceStat.st_dev && targetStat.st_ino == sourceStat.st_ino;
        if (sameFile) {  // a change of case
            std::string leaf = nativeLeaf(to);
            return ::rename(source.c_str(), leaf.c_str()) == 0 && moved(leaf);
        }
        if (!replace) {
            errno = EEXIST;
            return false;
        }
        if (S_ISDIR(targetStat.st_mode)) {
            errno = EISDIR;
            return false;
        }
        if (refuseReadOnly(target)) return false;
        return ::rename(source.c_str(), target.c_str()) == 0 && moved(target);
    }
    if (replace) return ::rename(source.c_str(), target.c_str()) == 0 && moved(target);
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return moved(target);
    if (errno != EINVAL && errno != ENOSYS) return false;
    return ::rename(source.c_str(), target.c_str()) == 0 && moved(target);  // file system without no-replace
}

bool moveFile(const std::u16string& from, const std::u16string& to, bool replace) {
    if (!renameFile(from, to, replace)) return false;
    posix::fileChanged(nativePath(to));
    return true;
}

bool copyFile(const std::u16string& from, const std::u16string& to) {
    std::string source = nativePath(from), target = nativePath(to);
    struct stat st;
    if (from.empty() || to.empty() || ::stat(source.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (refuseReadOnly(target)) return false;
    int fd = posix::openRegularFile(source);
    if (fd < 0) return false;
    // The copy's mode is the source's, read-only included, as CopyFileW copies attributes.
    bool ok = posix::replaceFileFrom(target, fd, st.st_mode & 07777);
    int saved = errno;
    if (ok) posix::noteNameAdded(target);
    ::close(fd);
    errno = saved;
    return ok;
}

bool fileSize(const std::u16string& path, uint64_t& size) {
    struct stat st;
    if (!statPath(path, st) || S_ISDIR(st.st_mode)) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool fileIdentity(const std::u16string& path, FileIdentity& identity) {
    struct stat st;
    if (!statPath(path, st) || !S_ISREG(st.st_mode)) return false;
    identity = identityOf(st);
    return true;
}

bool listDirectory(const std::u16string& folder, std::vector<DirEntry>& entries) {
    entries.clear();
    std::string native = nativePath(folder);
    DIR* dir = opendir(native.empty() ? "." : native.c_str());
    if (!dir) return false;
    try {
        while (dirent* entry = readdir(dir)) {
            DirEntry e;
            e.name = text::fromUtf8(entry->d_name);
            struct stat st;
            if (fstatat(dirfd(dir), entry->d_name, &st, 0) == 0 ||
                fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                e.attributes = attributesOf(st);
                e.isDirectory = S_ISDIR(st.st_mode);
            } else {
                e.attributes = kAttributeNormal;
            }
            entries.push_back(std::move(e));
        }
    } catch (const std::bad_alloc&) {
        closedir(dir);
        entries.clear();
        return false;
    }
    closedir(dir);
    // "." and ".." first, then by name without regard to case, as NTFS lists them.
    auto rank = [](const DirEntry& e) { return e.name == u"." ? 0 : e.name == u".." ? 1 : 2; };
    std::sort(entries.begin(), entries.end(), [&](const DirEntry& a, const DirEntry& b) {
        if (rank(a) != rank(b)) return rank(a) < rank(b);
        std::u16string la = text::toLower(a.name), lb = text::toLower(b.name);
        return la != lb ? la < lb : a.name < b.name;
    });
    return true;
}

bool readWholeFile(const std::u16string& path, std::string& bytes) {
    return !path.empty() && posix::readFileCapped(nativePath(path), SIZE_MAX, bytes);
}

bool writeWholeFile(const std::u16string& path, const std::string& bytes) {
    if (path.empty()) return false;
    std::string native = nativePath(path);
    if (refuseReadOnly(native) || !posix::replaceFileContents(native, bytes, 0644)) return false;
    posix::noteNameAdded(native);
    return true;
}

bool setFileTimes(const std::u16string& path, const FileTimes& times) {
    struct timespec stamps[2];
    stamps[0].tv_sec = static_cast<time_t>(times.accessed);
    stamps[1].tv_sec = static_cast<time_t>(times.modified);
    stamps[0].tv_nsec = stamps[1].tv_nsec = 0;
    return !path.empty() && utimensat(AT_FDCWD, nativePath(path).c_str(), stamps, 0) == 0;
}

bool resizeFile(const std::u16string& path, uint64_t size) {
    return !path.empty() && ::truncate(nativePath(path).c_str(), static_cast<off_t>(size)) == 0;
}

bool fileAgeSeconds(const std::u16string& path, int64_t& age) {
    struct stat st;
    if (path.empty() || ::stat(nativePath(path).c_str(), &st) != 0) return false;
    age = static_cast<int64_t>(::time(nullptr)) - static_cast<int64_t>(st.st_mtime);
    return true;
}

bool isLink(const std::u16string& path) {
    struct stat st;
    return !path.empty() && lstat(nativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool flushFolder(const std::u16string& folder) {
    int fd = ::open(nativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::unique_ptr<File> openFile(const std::u16string& path, OpenMode mode) {
    if (path.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    std::string native = nativePath(path);
    int flags = O_CLOEXEC;
    switch (mode) {
        case OpenMode::ReadShared:
        case OpenMode::ReadExclusive:
        case OpenMode::ReadDenyWrite: flags |= O_RDONLY; break;
        case OpenMode::WriteTruncate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        case OpenMode::ReadWrite: flags |= O_RDWR; break;
        case OpenMode::Append: flags |= O_WRONLY | O_APPEND; break;
    }
    bool writes = mode == OpenMode::WriteTruncate || mode == OpenMode::ReadWrite || mode == OpenMode::Append;
    if (writes && refuseReadOnly(native)) return nullptr;
    int fd = ::open(native.c_str(), flags | O_NONBLOCK, 0644);  // never wait on a FIFO
    if (fd < 0) return nullptr;
    if (flags & O_CREAT) posix::noteNameAdded(native);
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && fcntl(fd, F_SETFL, flags & O_APPEND) == 0;  // blocking again, appending still
    if (!ok) errno = EISDIR;
    // Sharing as the stand-in world knows it: an exclusive lock for no sharing, a shared one
    // for others reading only, neither waited for.
    int lock = mode == OpenMode::ReadExclusive ? LOCK_EX : mode == OpenMode::ReadDenyWrite ? LOCK_SH : 0;
    if (ok && lock != 0 && flock(fd, lock | LOCK_NB) != 0) {
        ok = false;
        errno = EBUSY;
    }
    if (!ok) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return nullptr;
    }
    try {
        return std::make_unique<PosixFile>(fd);
    } catch (const std::bad_alloc&) {
        ::close(fd);
        return nullptr;
    }
}

}  // namespace plat
