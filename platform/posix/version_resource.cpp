#include "platform/version_resource.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/posix/host.h"

namespace plat {

// Larger files are not programs the agent looks at; they are refused unread.
constexpr off_t kMaxPeBytes = 256 * 1024 * 1024;

bool readVersionResource(const std::u16string& path, VersionResource& out) {
    out = VersionResource();
    if (path.empty()) return false;
    int fd = posix::openRegularFile(nativePath(path));
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size > kMaxPeBytes) {
        ::close(fd);
        return false;
    }
    PeReadAt readAt = [fd](uint64_t offset, size_t length, std::string& bytes) {
        bytes.resize(length);
        size_t got = 0;
        while (got < length) {
            ssize_t n = ::pread(fd, &bytes[got], length - got, static_cast<off_t>(offset + got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
        return true;
    };
    bool ok = parsePeVersionResource(readAt, out);
    ::close(fd);
    return ok;
}

}  // namespace plat
