// A window of the POSIX desktop, as a stand-in program shows one: it claims a number
// by binding its socket, publishes its property file, and answers each message with
// one byte.
#include "platform/desktop_window.h"
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include "platform/files.h"
#include "platform/posix/host.h"
#include "text/text.h"

namespace plat {

namespace {

constexpr WindowHandle kMaxWindows = 9999;
constexpr size_t kMaxMessageBytes = 1024 * 1024;

bool addressOf(WindowHandle number, sockaddr_un& address) {
    std::string path = posix::windowFile(number, "sock");
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A socket file whose window has gone refuses connections and may be taken over.
bool isStale(const sockaddr_un& address) {
    int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    bool stale =
        connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno == ECONNREFUSED;
    ::close(probe);
    return stale;
}

int claim(WindowHandle number) {
    sockaddr_un address;
    if (!addressOf(number, address)) return -1;
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (!bound && errno == EADDRINUSE && isStale(address)) {
        unlink(address.sun_path);
        bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    if (!bound || listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
}

bool waitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0;
    }
}

bool parse(const std::string& bytes, WindowMessage& message) {
    if (bytes == "FOREGROUND") {
        message = WindowMessage{WindowMessage::Kind::Foreground, 0, ""};
        return true;
    }
    const std::string prefix = "COPYDATA ";
    size_t space = bytes.find(' ', prefix.size());
    if (bytes.compare(0, prefix.size(), prefix) != 0 || space == std::string::npos || space == prefix.size())
        return false;
    std::string number = bytes.substr(prefix.size(), space - prefix.size());
    if (number.find_first_not_of("0123456789") != std::string::npos || number.size() > 19) return false;
    message = WindowMessage{WindowMessage::Kind::CopyData, static_cast<uintptr_t>(std::stoull(number)),
                            bytes.substr(space + 1)};
    return true;
}

class PosixDesktopWindow : public DesktopWindow {
public:
    PosixDesktopWindow(WindowHandle number, int fd, std::vector<std::u16string> properties)
        : m_number(number), m_fd(fd), m_properties(std::move(properties)) {}

    ~PosixDesktopWindow() override {
        unlink(posix::windowFile(m_number, "props").c_str());
        unlink(posix::windowFile(m_number, "sock").c_str());
        ::close(m_fd);
    }

    WindowHandle handle() const override { return m_number; }

    bool setState(bool visible, bool minimized) override {
        std::u16string content;
        for (const auto& p : m_properties) content += p + u"\n";
        if (visible) content += u"visible\n";
        if (minimized) content += u"minimized\n";
        return posix::replaceFileContents(posix::windowFile(m_number, "props"), text::toUtf8(content), 0644);
    }

    bool receive(WindowMessage& message, uint32_t timeoutMs) override {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (waitReadable(m_fd, deadline)) {
            int connection = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) continue;
            bool ok = readOne(connection, deadline, message);
            if (ok) send(connection, "1", 1, MSG_NOSIGNAL);
            ::close(connection);
            if (ok) return true;  // anything else (a probe, a bad message) is dropped
        }
        return false;
    }

private:
    static bool readOne(int connection, std::chrono::steady_clock::time_point deadline, WindowMessage& message) {
        if (!waitReadable(connection, deadline)) return false;
        char probe;
        ssize_t size = recv(connection, &probe, 1, MSG_PEEK | MSG_TRUNC);
        if (size <= 0 || static_cast<size_t>(size) > kMaxMessageBytes) return false;
        std::string bytes(static_cast<size_t>(size), '\0');
        return recv(connection, bytes.data(), bytes.size(), 0) == size && parse(bytes, message);
    }

    const WindowHandle m_number;
    const int m_fd;
    const std::vector<std::u16string> m_properties;
};

}  // namespace

std::unique_ptr<DesktopWindow> DesktopWindow::create(const std::vector<std::u16string>& properties, bool visible,
                                                     bool minimized, WindowHandle number) {
    if (number > kMaxWindows) return nullptr;
    if (!createDirectoryTree(posix::corePath(posix::desktopFolder()))) return nullptr;
    WindowHandle first = number ? number : 1, last = number ? number : kMaxWindows;
    int fd = -1;
    for (WindowHandle n = first; n <= last && fd < 0; ++n) {
        fd = claim(n);
        number = n;
    }
    if (fd < 0) return nullptr;
    auto window = std::make_unique<PosixDesktopWindow>(number, fd, properties);
    if (!window->setState(visible, minimized)) return nullptr;
    return window;
}

}  // namespace plat
