#include "support/unmovable_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace testsupport {

namespace fs = std::filesystem;

#ifdef _WIN32

UnmovableFile::UnmovableFile(const fs::path& file) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    m_held = handle != INVALID_HANDLE_VALUE;
    if (m_held) m_handle = handle;
}

void UnmovableFile::release() {
    if (m_handle) CloseHandle(m_handle);
    m_handle = nullptr;
}

#else

namespace {

bool setImmutable(const fs::path& folder, bool on) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

}  // namespace

UnmovableFile::UnmovableFile(const fs::path& file) : m_folder(file.parent_path()) {
    fs::permissions(m_folder, fs::perms::owner_read | fs::perms::owner_exec);
    if (geteuid() == 0) m_immutable = setImmutable(m_folder, true);
    m_held = geteuid() != 0 || m_immutable;
}

void UnmovableFile::release() {
    if (m_folder.empty()) return;
    if (m_immutable) setImmutable(m_folder, false);
    std::error_code ignored;
    fs::permissions(m_folder, fs::perms::owner_all, ignored);
    m_folder.clear();
}

#endif

UnmovableFile::~UnmovableFile() { release(); }

}  // namespace testsupport
