// Files, folders and paths. Paths use "\" as the only separator on every host; the
// POSIX backend turns them into "/" at the system call and back when it hands paths out.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

bool fileExists(const std::u16string& path);  // exists and is not a directory
bool directoryExists(const std::u16string& path);
bool pathExists(const std::u16string& path);

// Attribute word as Windows reports it (FILE_ATTRIBUTE_DIRECTORY = 0x10,
// FILE_ATTRIBUTE_READONLY = 0x1, FILE_ATTRIBUTE_NORMAL = 0x80, ...); false when absent.
constexpr uint32_t kAttributeReadOnly = 0x1;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;
constexpr uint32_t kAttributeNormal = 0x80;
bool fileAttributes(const std::u16string& path, uint32_t& attributes);
bool setFileAttributes(const std::u16string& path, uint32_t attributes);

bool createDirectory(const std::u16string& path);      // one level; false when it exists
bool createDirectoryTree(const std::u16string& path);  // all missing levels; true when it exists
bool removeDirectory(const std::u16string& path);      // empty folder only
bool deleteFile(const std::u16string& path);
// Rename; replaces an existing target when replace is set (MoveFileExW / rename).
bool moveFile(const std::u16string& from, const std::u16string& to, bool replace);
bool copyFile(const std::u16string& from, const std::u16string& to);
bool fileSize(const std::u16string& path, uint64_t& size);
// Cuts a file down (or extends it with zeros) to size bytes.
bool resizeFile(const std::u16string& path, uint64_t size);
// Seconds since the file was last written, by the system's wall clock (negative when the
// file's time lies ahead of it).
bool fileAgeSeconds(const std::u16string& path, int64_t& age);

struct DirEntry {
    std::u16string name;  // bare name
    bool isDirectory = false;
    uint32_t attributes = 0;
};
// Entries of a folder, "." and ".." included as FindFirstFileW would give them.
// Returns false when the folder cannot be listed.
bool listDirectory(const std::u16string& folder, std::vector<DirEntry>& entries);

// Whole-file helpers (binary).
bool readWholeFile(const std::u16string& path, std::string& bytes);
bool writeWholeFile(const std::u16string& path, const std::string& bytes);

// Creation, last-access and last-write times as seconds since 1970 (UTC). A host that
// keeps no settable creation time (POSIX) sets the other two.
struct FileTimes {
    int64_t created = 0;
    int64_t accessed = 0;
    int64_t modified = 0;
};
bool setFileTimes(const std::u16string& path, const FileTimes& times);

// True for a symbolic link or a junction (any reparse point on Windows): a path through
// one may lead somewhere else than its text says.
bool isLink(const std::u16string& path);

// Makes the names in folder durable: after a rename into it, a power cut leaves either
// the old or the new name. POSIX needs an fsync of the folder; NTFS journals its names.
bool flushFolder(const std::u16string& folder);

// What tells one state of a file from another without reading it: the file's ID on its
// volume, its size and its last-write time. A rename keeps it; a write changes it.
struct FileIdentity {
    uint64_t volume = 0, fileId = 0, size = 0;
    int64_t modified = 0;  // host units (nanoseconds on POSIX, 100 ns on Windows)
    bool operator==(const FileIdentity& o) const {
        return volume == o.volume && fileId == o.fileId && size == o.size && modified == o.modified;
    }
};
bool fileIdentity(const std::u16string& path, FileIdentity& identity);

enum class OpenMode {
    ReadShared,     // read, others may read and write
    ReadExclusive,  // read, no sharing: fails while another process holds the file
    // Read, others may only read: nobody writes, renames or deletes the file while it is
    // open, yet a program can still be started from it. Fails while another process holds
    // the file for more than reading.
    ReadDenyWrite,
    WriteTruncate,  // create or truncate, write
    ReadWrite,      // open existing for read and write
    Append,         // open existing, every write lands at its end
};

class File {
public:
    virtual ~File() = default;
    // Returns bytes read (0 at end), or -1 on error.
    virtual int64_t read(void* buffer, size_t size) = 0;
    virtual bool write(const void* data, size_t size) = 0;
    virtual bool size(uint64_t& size) = 0;
    virtual bool flush() = 0;
    virtual bool identity(FileIdentity& identity) = 0;
};
std::unique_ptr<File> openFile(const std::u16string& path, OpenMode mode);

// Folder of a path: everything before the last "\" (empty when there is none).
std::u16string parentFolder(const std::u16string& path);
std::u16string fileNameOf(const std::u16string& path);
// Canonical form: "/" turned into "\", "." and ".." resolved, repeated "\" collapsed.
std::u16string canonicalPath(const std::u16string& path);
// True when path, once canonical, lies inside folder (or is folder itself when allowSame).
// Letter case is ignored, as Windows file names do.
bool isInsideFolder(const std::u16string& path, const std::u16string& folder, bool allowSame = false);

// The path in the form this host's C runtime opens (for libraries that take a char path,
// such as minizip): the ANSI code page on Windows; "/" separators, UTF-8 and the letter
// case of the existing file on POSIX.
std::string nativePath(const std::u16string& path);

}  // namespace plat
