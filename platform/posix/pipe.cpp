// Message-mode named pipes as SOCK_SEQPACKET Unix sockets in the runtime folder: the
// socket keeps message boundaries as a Windows message pipe does. One server socket is
// one pipe instance: it takes one client and then stops listening, so further clients
// find no instance until the server, disconnected, waits for the next one.
// Only this user reaches a server: its folder is private, its socket file is the user's
// alone, and a client of another user is turned away on accept.
#include "platform/pipe.h"
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include "platform/posix/host.h"
#include "text/text.h"

namespace plat {

namespace {

using SteadyClock = std::chrono::steady_clock;

struct Pipe {
    int listenFd = -1;
    int connFd = -1;
    std::string path;  // the server's socket file; empty on a client's end
    ino_t inode = 0;   // of that file while we listen
};

// The folder of the pipes: the runtime folder when it is this user's and closed to
// others, else a folder of this user's own inside it (/tmp without a runtime folder, a
// sticky or open one, one of another user's). A folder the agent did not make is never
// changed.
std::string pipeFolder() {
    std::string folder = posix::runtimeFolder();
    struct stat st;
    bool ours = lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
                (st.st_mode & 077) == 0;
    return ours ? folder : folder + "/ovupdate-" + std::to_string(geteuid());
}

bool pathOf(const std::u16string& name, std::string& path) {
    std::u16string bare = name;
    const std::u16string prefix = u"\\\\.\\pipe\\";
    if (bare.size() > prefix.size() && text::equalsNoCase(bare.substr(0, prefix.size()), prefix))
        bare = bare.substr(prefix.size());
    if (bare.empty()) return false;
    path = pipeFolder() + "/" + posix::runtimeName(bare);
    return true;
}

bool addressOf(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A server's folder is a directory of this user's that nobody else may enter: made when
// missing, tightened when it is ours but open (only the agent's own folder can be). One of
// another user is refused (taken).
bool makeFolderPrivate(const std::string& folder, bool* taken) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        if (taken) *taken = true;
        errno = EACCES;
        return false;
    }
    return (st.st_mode & 077) == 0 || chmod(folder.c_str(), 0700) == 0;
}

bool startListening(Pipe& pipe, bool* taken) {
    sockaddr_un address;
    if (!makeFolderPrivate(pipe.path.substr(0, pipe.path.rfind('/')), taken) || !addressOf(pipe.path, address))
        return false;
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const char* path = pipe.path.c_str();
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISSOCK(st.st_mode)) unlink(path);  // left by an ended server
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || chmod(path, 0600) != 0 ||
        listen(fd, 8) != 0 || stat(path, &st) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return false;
    }
    pipe.listenFd = fd;
    pipe.inode = st.st_ino;
    return true;
}

// Removes the socket file only while it is still ours (a newer server may own the name).
void stopListening(Pipe& pipe) {
    if (pipe.listenFd < 0) return;
    struct stat st;
    if (stat(pipe.path.c_str(), &st) == 0 && st.st_ino == pipe.inode) unlink(pipe.path.c_str());
    ::close(pipe.listenFd);
    pipe.listenFd = -1;
}

bool isThisUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == geteuid();
}

// A server's message counts as written once the client has read it, so that a client
// that sends and never reads cannot hold the server past the write's time limit.
bool waitUntilTaken(int fd, SteadyClock::time_point deadline) {
    for (;;) {
        int queued = 0;
        if (ioctl(fd, SIOCOUTQ, &queued) != 0) return false;
        if (queued == 0) return true;
        if (SteadyClock::now() >= deadline) {
            errno = ETIMEDOUT;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

PipeHandle createPipeServer(const std::u16string& name, bool* taken) {
    if (taken) *taken = false;
    auto* pipe = new Pipe;
    if (!pathOf(name, pipe->path) || !startListening(*pipe, taken)) {
        delete pipe;
        return nullptr;
    }
    return pipe;
}

ConnectResult connectPipeClient(PipeHandle handle) {
    auto* pipe = static_cast<Pipe*>(handle);
    if (!pipe) return ConnectResult::Failed;
    if (pipe->connFd >= 0) return ConnectResult::AlreadyConnected;
    if (pipe->listenFd < 0 && (pipe->path.empty() || !startListening(*pipe, nullptr))) return ConnectResult::Failed;
    int fd;
    while ((fd = accept4(pipe->listenFd, nullptr, nullptr, SOCK_CLOEXEC)) < 0 && errno == EINTR) {
    }
    if (fd < 0) return ConnectResult::Failed;
    if (!isThisUser(fd)) {
        ::close(fd);
        return ConnectResult::Refused;
    }
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
    auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeoutMs / 1000);
    limit.tv_usec = static_cast<suseconds_t>((timeoutMs % 1000) * 1000);
    setsockopt(pipe->connFd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ssize_t n;
    while ((n = send(pipe->connFd, data, size, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    if (n < 0) return false;
    written = static_cast<size_t>(n);
    return written == size && (pipe->path.empty() || waitUntilTaken(pipe->connFd, deadline));
}

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
    if (!pathOf(name, path) || !addressOf(path, address)) return nullptr;
    auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (fd < 0) return nullptr;
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return new Pipe{-1, fd, "", 0};
        int saved = errno;
        ::close(fd);
        bool retry = saved == ENOENT || saved == ECONNREFUSED || saved == EAGAIN || saved == EINTR;
        if (!retry || SteadyClock::now() >= deadline) {
            errno = saved;
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace plat
