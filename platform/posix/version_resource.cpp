#include "platform/version_resource.h"
#include "platform/files.h"
#include "platform/posix/host.h"

namespace plat {

// Larger files are not programs the agent looks at; they are refused unread.
constexpr size_t kMaxPeBytes = 256 * 1024 * 1024;

bool readVersionResource(const std::u16string& path, VersionResource& out) {
    out = VersionResource();
    std::string bytes;
    if (path.empty() || !posix::readFileCapped(nativePath(path), kMaxPeBytes, bytes)) return false;
    return parsePeVersionResource(bytes, out);
}

}  // namespace plat
