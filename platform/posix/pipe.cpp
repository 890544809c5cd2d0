// Message-mode named pipes as SOCK_SEQPACKET Unix sockets in the runtime folder: the
// socket keeps message boundaries as a Windows message pipe does. One server socket is
// one pipe instance: it takes one client and then stops listening, so further clients
// find no instance until the server creates the next one.
#include "platform/pipe.h"
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include "platform/posix/host.h"
#include "platform/text.h"

namespace plat {

namespace {

struct Pipe {
    int listenFd = -1;
    int connFd = -1;
    std::string path;  // our socket file while we listen
    ino_t inode = 0;
};

bool addressOf(const std::u16string& name, sockaddr_un& address, std::string& path) {
    std::u16string bare = name;
    const std::u16string prefix = u"\\\\.\\pipe\\";
    if (bare.size() > prefix.size() && text::equalsNoCase(bare.substr(0, prefix.size()), prefix))
        bare = bare.substr(prefix.size());
    if (bare.empty()) return false;
    path = posix::runtimeFolder() + "/" + posix::runtimeName(bare);
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Removes the socket file only while it is still ours (a newer server may own the name).
void stopListening(Pipe& pipe) {
    if (pipe.listenFd < 0) return;
    struct stat st;
    if (!pipe.path.empty() && stat(pipe.path.c_str(), &st) == 0 && st.st_ino == pipe.inode)
        unlink(pipe.path.c_str());
    ::close(pipe.listenFd);
    pipe.listenFd = -1;
}

}  // namespace

PipeHandle createPipeServer(const std::u16string& name) {
    sockaddr_un address;
    std::string path;
    if (!addressOf(name, address, path)) return nullptr;
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(path.c_str());  // left by an ended server
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0 ||
        stat(path.c_str(), &st) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return nullptr;
    }
    return new Pipe{fd, -1, path, st.st_ino};
}

ConnectResult connectPipeClient(PipeHandle handle) {
    auto* pipe = static_cast<Pipe*>(handle);
    if (!pipe) return ConnectResult::Failed;
    if (pipe->connFd >= 0) return ConnectResult::AlreadyConnected;
    if (pipe->listenFd < 0) return ConnectResult::Failed;
    int fd;
    while ((fd = accept4(pipe->listenFd, nullptr, nullptr, SOCK_CLOEXEC)) < 0 && errno == EINTR) {
    }
    if (fd < 0) return ConnectResult::Failed;
    pipe->connFd = fd;
    stopListening(*pipe);
    return ConnectResult::Connected;
}

bool readPipeMessage(PipeHandle handle, void* buffer, size_t size, size_t& bytesRead) {
    bytesRead = 0;
    auto* pipe = static_cast<Pipe*>(handle);
    if (!pipe || pipe->connFd < 0) {
        errno = EBADF;
        return false;
    }
    ssize_t n;
    while ((n = recv(pipe->connFd, buffer, size, MSG_TRUNC)) < 0 && errno == EINTR) {
    }
    if (n < 0) return false;
    if (n == 0) {  // the other end has gone (or sent nothing)
        errno = EPIPE;
        return false;
    }
    if (static_cast<size_t>(n) > size) {  // the part beyond the buffer is lost
        bytesRead = size;
        errno = EMSGSIZE;
        return false;
    }
    bytesRead = static_cast<size_t>(n);
    return true;
}

bool writePipeMessage(PipeHandle handle, const void* data, size_t size, size_t& written, uint32_t timeoutMs) {
    written = 0;
    auto* pipe = static_cast<Pipe*>(handle);
    if (!pipe || pipe->connFd < 0) {
        errno = EBADF;
        return false;
    }
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeoutMs / 1000);
    limit.tv_usec = static_cast<suseconds_t>((timeoutMs % 1000) * 1000);
    setsockopt(pipe->connFd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ssize_t n;
    while ((n = send(pipe->connFd, data, size, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    if (n < 0) return false;
    written = static_cast<size_t>(n);
    return written == size;
}

// Sent messages already sit in the reader's queue and survive our close.
void flushPipe(PipeHandle) {}

void disconnectPipe(PipeHandle handle) {
    auto* pipe = static_cast<Pipe*>(handle);
    if (!pipe || pipe->connFd < 0) return;
    shutdown(pipe->connFd, SHUT_RDWR);
    ::close(pipe->connFd);
    pipe->connFd = -1;
}

void closePipe(PipeHandle handle) {
    auto* pipe = static_cast<Pipe*>(handle);
    if (!pipe) return;
    if (pipe->connFd >= 0) ::close(pipe->connFd);
    stopListening(*pipe);
    delete pipe;
}

PipeHandle openPipe(const std::u16string& name, uint32_t timeoutMs) {
    sockaddr_un address;
    std::string path;
    if (!addressOf(name, address, path)) return nullptr;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (fd < 0) return nullptr;
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return new Pipe{-1, fd, "", 0};
        int saved = errno;
        ::close(fd);
        bool retry = saved == ENOENT || saved == ECONNREFUSED || saved == EAGAIN || saved == EINTR;
        if (!retry || std::chrono::steady_clock::now() >= deadline) {
            errno = saved;
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace plat
