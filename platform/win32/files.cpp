#include <windows.h>

#include "platform/files.h"
#include "text/text.h"
#include "platform/win32/wide.h"

namespace plat {

using win32::wide;

std::string nativePath(const std::u16string& path) { return text::toAnsi(path); }

bool fileExists(const std::u16string& path) {
    DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool directoryExists(const std::u16string& path) {
    DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool pathExists(const std::u16string& path) { return GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES; }

bool fileAttributes(const std::u16string& path, uint32_t& attributes) {
    DWORD value = GetFileAttributesW(wide(path));
    if (value == INVALID_FILE_ATTRIBUTES) return false;
    attributes = value;
    return true;
}

bool setFileAttributes(const std::u16string& path, uint32_t attributes) {
    return SetFileAttributesW(wide(path), attributes) != FALSE;
}

bool createDirectory(const std::u16string& path) { return CreateDirectoryW(wide(path), nullptr) != FALSE; }

bool createDirectoryTree(const std::u16string& path) {
    if (path.empty()) return false;
    // Create every prefix that ends before a "\"; the root parts ("C:", "\\server\share")
    // simply fail to be created and are passed over.
    for (size_t pos = path.find(u'\\', 1); pos != std::u16string::npos; pos = path.find(u'\\', pos + 1)) {
        std::u16string prefix = path.substr(0, pos);
        if (!directoryExists(prefix)) CreateDirectoryW(wide(prefix), nullptr);
    }
    if (!directoryExists(path)) CreateDirectoryW(wide(path), nullptr);
    return directoryExists(path);
}

bool removeDirectory(const std::u16string& path) { return RemoveDirectoryW(wide(path)) != FALSE; }

bool deleteFile(const std::u16string& path) { return DeleteFileW(wide(path)) != FALSE; }

bool moveFile(const std::u16string& from, const std::u16string& to, bool replace) {
    DWORD flags = MOVEFILE_COPY_ALLOWED | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExW(wide(from), wide(to), flags) != FALSE;
}

bool copyFile(const std::u16string& from, const std::u16string& to) {
    return CopyFileW(wide(from), wide(to), FALSE) != FALSE;
}

bool fileSize(const std::u16string& path, uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool listDirectory(const std::u16string& folder, std::vector<DirEntry>& entries) {
    entries.clear();
    std::u16string pattern = folder;
    if (!pattern.empty() && pattern.back() != u'\\') pattern += u'\\';
    pattern += u'*';
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(wide(pattern), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        DirEntry entry;
        entry.name = win32::fromWide(data.cFileName);
        entry.attributes = data.dwFileAttributes;
        entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entries.push_back(std::move(entry));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
}

bool readWholeFile(const std::u16string& path, std::string& bytes) {
    auto file = openFile(path, OpenMode::ReadShared);
    if (!file) return false;
    bytes.clear();
    char chunk[65536];
    for (;;) {
        int64_t got = file->read(chunk, sizeof(chunk));
        if (got < 0) return false;
        if (got == 0) return true;
        bytes.append(chunk, static_cast<size_t>(got));
    }
}

bool writeWholeFile(const std::u16string& path, const std::string& bytes) {
    auto file = openFile(path, OpenMode::WriteTruncate);
    return file && file->write(bytes.data(), bytes.size()) && file->flush();
}

namespace {

// FILETIME counts 100-ns steps from 1601-01-01.
FILETIME fileTimeOf(int64_t unixSeconds) {
    uint64_t ticks = static_cast<uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

}  // namespace

bool setFileTimes(const std::u16string& path, const FileTimes& times) {
    HANDLE handle = CreateFileW(wide(path), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    FILETIME created = fileTimeOf(times.created), accessed = fileTimeOf(times.accessed),
             modified = fileTimeOf(times.modified);
    bool ok = SetFileTime(handle, &created, &accessed, &modified) != FALSE;
    CloseHandle(handle);
    return ok;
}

bool resizeFile(const std::u16string& path, uint64_t size) {
    HANDLE handle = CreateFileW(wide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    bool ok = SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
    CloseHandle(handle);
    return ok;
}

bool fileAgeSeconds(const std::u16string& path, int64_t& age) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data)) return false;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](const FILETIME& t) {
        return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    age = (ticks(now) - ticks(data.ftLastWriteTime)) / 10000000;
    return true;
}

bool isLink(const std::u16string& path) {
    DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool flushFolder(const std::u16string&) { return true; }

namespace {

bool identityOf(HANDLE handle, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.fileId = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    identity.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    identity.modified = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                             info.ftLastWriteTime.dwLowDateTime);
    return true;
}

class Win32File : public File {
public:
    explicit Win32File(HANDLE handle) : m_handle(handle) {}
    ~Win32File() override { CloseHandle(m_handle); }

    int64_t read(void* buffer, size_t size) override {
        DWORD got = 0;
        if (!ReadFile(m_handle, buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
        return got;
    }
    bool write(const void* data, size_t size) override {
        auto* bytes = static_cast<const char*>(data);
        while (size > 0) {
            DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
            DWORD written = 0;
            if (!WriteFile(m_handle, bytes, chunk, &written, nullptr) || written == 0) return false;
            bytes += written;
            size -= written;
        }
        return true;
    }
    bool size(uint64_t& size) override {
        LARGE_INTEGER value;
        if (!GetFileSizeEx(m_handle, &value)) return false;
        size = static_cast<uint64_t>(value.QuadPart);
        return true;
    }
    bool flush() override { return FlushFileBuffers(m_handle) != FALSE; }
    bool identity(FileIdentity& identity) override { return identityOf(m_handle, identity); }

private:
    HANDLE m_handle;
};

}  // namespace

bool fileIdentity(const std::u16string& path, FileIdentity& identity) {
    // Attributes only, shared with everyone: asking never gets in another program's way.
    HANDLE handle =
        CreateFileW(wide(path), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool ok = identityOf(handle, identity);
    CloseHandle(handle);
    return ok;
}

std::unique_ptr<File> openFile(const std::u16string& path, OpenMode mode) {
    DWORD access = GENERIC_READ, share = FILE_SHARE_READ, disposition = OPEN_EXISTING;
    switch (mode) {
        case OpenMode::ReadShared: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
        case OpenMode::ReadExclusive: share = 0; break;
        case OpenMode::ReadDenyWrite: share = FILE_SHARE_READ; break;
        case OpenMode::WriteTruncate:
            access = GENERIC_WRITE;
            disposition = CREATE_ALWAYS;
            break;
        case OpenMode::ReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
        case OpenMode::Append: access = GENERIC_READ | GENERIC_WRITE; break;
    }
    HANDLE handle = CreateFileW(wide(path), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER none{};
    if (mode == OpenMode::Append && !SetFilePointerEx(handle, none, nullptr, FILE_END)) {
        CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<Win32File>(handle);
}

}  // namespace plat
