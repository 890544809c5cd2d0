#include "platform/posix/host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include "text/text.h"

namespace plat::posix {

std::string runtimeFolder() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    std::string folder = dir && *dir ? dir : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::u16string corePath(const std::string& native) {
    std::u16string p = text::fromUtf8(native);
    for (auto& c : p)
        if (c == u'/') c = u'\\';
    return p;
}

int openRegularFile(const std::string& native) {
    int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return -1;
    }
    fcntl(fd, F_SETFL, 0);
    return fd;
}

bool readFileCapped(const std::string& native, size_t maxBytes, std::string& bytes) {
    bytes.clear();
    int fd = openRegularFile(native);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) <= maxBytes;
    try {
        char buffer[65536];
        while (ok) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n <= 0) break;
            if (bytes.size() + static_cast<size_t>(n) > maxBytes) ok = false;  // grew while read
            else bytes.append(buffer, static_cast<size_t>(n));
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    int saved = errno;
    ::close(fd);
    errno = saved;
    if (!ok) bytes.clear();
    return ok;
}

static bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

static bool copyAll(int from, int to) {
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0;
        if (!writeAll(to, buffer, static_cast<size_t>(n))) return false;
    }
}

static void syncParentFolder(const std::string& native) {
    size_t slash = native.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    ::close(fd);
}

// Fills a temporary file beside native, flushes it and renames it over native.
// An existing file keeps its mode when keepMode is set.
template <typename Fill>
static bool replaceFile(const std::string& native, unsigned mode, bool keepMode, Fill fill) {
    struct stat st;
    if (stat(native.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return false;
        }
        if (keepMode) mode = st.st_mode & 07777;
    }
    std::string temp = native + ".XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fchmod(fd, mode) == 0 && fill(fd) && fsync(fd) == 0;
    int saved = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok) {
        if (::rename(temp.c_str(), native.c_str()) == 0) {
            syncParentFolder(native);  // the new name survives a power cut too
            return true;
        }
        saved = errno;
    }
    ::unlink(temp.c_str());
    errno = saved;
    return false;
}

bool replaceFileContents(const std::string& native, const std::string& bytes, unsigned mode) {
    return replaceFile(native, mode, true, [&](int fd) { return writeAll(fd, bytes.data(), bytes.size()); });
}

bool replaceFileFrom(const std::string& native, int source, unsigned mode) {
    return replaceFile(native, mode, false, [&](int fd) { return copyAll(source, fd); });
}

std::u16string decodeTextFile(const std::string& bytes, bool* utf16, bool* utf8Bom) {
    if (utf16) *utf16 = false;
    if (utf8Bom) *utf8Bom = false;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (utf16) *utf16 = true;
        std::u16string out;
        out.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8));
        return out;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        if (utf8Bom) *utf8Bom = true;
        return text::fromUtf8(std::string_view(bytes).substr(3));
    }
    return text::fromUtf8(bytes);
}

#ifdef OV_TEST_HOOKS
void fileChanged(const std::string& native) {
    static const char* under = std::getenv("OVUPDATE_TEST_EXIT_UNDER");
    static const char* count = std::getenv("OVUPDATE_TEST_EXIT_AFTER");
    static const long after = under && count ? std::atol(count) : 0;
    static std::atomic<long> seen{0};
    if (after <= 0 || native.compare(0, std::strlen(under), under) != 0) return;
    if (seen.fetch_add(1) + 1 == after) _exit(kTestExitCode);
}
#else
void fileChanged(const std::string&) {}
#endif

std::string runtimeName(const std::u16string& name) {
    std::string n = text::toUtf8(name);
    for (auto& c : n)
        if (c == '/' || c == '\\') c = '_';
    return n;
}

}  // namespace plat::posix
