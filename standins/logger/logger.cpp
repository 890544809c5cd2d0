// Stand-in of the maker's logger library: every write appends the text, as UTF-8 exactly
// as handed over, to <roaming application data>\kvlog\<log name>.log. Each text goes out
// in one append-mode write, so lines from several threads and processes never interleave.
// (Wine does not make an append atomic between processes as Windows does: there the
// writers also take turns through a lock on one byte far beyond any content, which keeps
// readers of the log unhindered.)
#include <mutex>
#include <string>

#include "app/logger_interface.h"
#include "platform/files.h"
#include "platform/system.h"
#include "text/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#ifdef _WIN32
#define LOGGER_EXPORT extern "C" __declspec(dllexport)
#else
#define LOGGER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

bool appendToFile(const std::u16string& path, const std::string& bytes) {
#ifdef _WIN32
    HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ | FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED turn{};
    turn.OffsetHigh = 0x7FFFFFFF;
    BOOL locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn);
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (locked) UnlockFileEx(file, 0, 1, 0, &turn);
    CloseHandle(file);
    return ok && written == bytes.size();
#else
    std::string native = text::toUtf8(path);
    for (char& c : native)
        if (c == '\\') c = '/';
    int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
    return written == static_cast<ssize_t>(bytes.size());
#endif
}

class FileLogger final : public app::ILogger {
public:
    void unused0() override {}
    void start() override {}
    bool stop() override { return true; }
    void unused3() override {}
    void unused4() override {}
    void unused5() override {}
    void unused6() override {}
    void unused7() override {}

    bool write(const char16_t* logName, int, const char16_t* text) override {
        if (!logName || !text) return false;
        std::u16string appData = plat::appDataFolder();
        if (appData.empty()) return false;
        std::u16string folder = appData + u"\\kvlog";
        std::lock_guard<std::mutex> lock(m_mutex);
        plat::createDirectoryTree(folder);
        return appendToFile(folder + u"\\" + logName + u".log", text::toUtf8(text));
    }

private:
    std::mutex m_mutex;
};

// One object for the life of the library: a late write after DeleteInterface still finds
// a valid object.
FileLogger g_logger;

}  // namespace

LOGGER_EXPORT app::ILogger* CreateInterface() { return &g_logger; }
LOGGER_EXPORT void DeleteInterface() {}
