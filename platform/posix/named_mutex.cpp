// Named mutexes as lock files in the runtime folder. Every open handle holds a shared
// flock on the file, so "the mutex exists" (some handle is open anywhere) is exactly
// "an exclusive flock cannot be taken", which is how openNamedMutex tests for it.
#include "platform/named_mutex.h"
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <thread>
#include "platform/posix/host.h"

namespace plat {

namespace {

struct LockFile {
    int fd;
};

std::string lockPath(const std::u16string& name) {
    return posix::runtimeFolder() + "/" + posix::runtimeName(name) + ".lock";
}

// Takes a lock that another process holds only for an instant, retrying briefly: the
// exclusive lock of an existence test, or a creator's guard.
bool lockWithin(int fd, int operation, int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (flock(fd, operation | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// The shared lock that keeps the mutex alive.
bool holdShared(int fd) { return lockWithin(fd, LOCK_SH, 50); }

// The guard of a create.
bool lockExclusive(int fd) { return lockWithin(fd, LOCK_EX, 500); }

MutexHandle handleFor(int fd) {
    if (!holdShared(fd)) {
        ::close(fd);
        return nullptr;
    }
    return new LockFile{fd};
}

}  // namespace

MutexHandle openNamedMutex(const std::u16string& name) {
    if (name.empty()) return nullptr;
    int fd = ::open(lockPath(name).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {  // nobody holds it: no such mutex
        ::close(fd);
        errno = ENOENT;
        return nullptr;
    }
    return handleFor(fd);
}

MutexHandle createNamedMutex(const std::u16string& name, bool, bool nullDacl, bool* existed) {
    if (name.empty()) return nullptr;
    mode_t mode = nullDacl ? 0666 : 0644;
    int fd = ::open(lockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
    if (fd < 0) return nullptr;
    if (nullDacl) fchmod(fd, mode);  // not narrowed by the umask: anyone may open it
    if (!existed) return handleFor(fd);
    // Creators take turns on the guard, so "was anybody holding it?" and taking the
    // shared hold are one step for them.
    int guard = ::open((lockPath(name) + ".guard").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
    if (guard < 0 || !lockExclusive(guard)) {
        if (guard >= 0) ::close(guard);
        ::close(fd);
        return nullptr;
    }
    *existed = flock(fd, LOCK_EX | LOCK_NB) != 0;
    MutexHandle handle = handleFor(fd);  // converts the exclusive test lock to the shared hold
    ::close(guard);
    return handle;
}

void closeMutex(MutexHandle handle) {
    if (!handle) return;
    auto* lock = static_cast<LockFile*>(handle);
    ::close(lock->fd);
    delete lock;
}

}  // namespace plat
