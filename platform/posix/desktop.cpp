// Top-level windows as the agent sees them on the POSIX desktop: each window is a
// property file (one property name a line, plus "visible" and "minimized" while they
// hold) and a SOCK_SEQPACKET socket that takes one message per connection and answers
// it with one byte.
#include "platform/desktop.h"
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include "platform/posix/host.h"
#include "text/text.h"

namespace plat {

namespace posix {

std::string desktopFolder() { return runtimeFolder() + "/desktop"; }

std::string windowFile(uintptr_t window, const char* extension) {
    char name[32];
    snprintf(name, sizeof name, "/%04lu.%s", static_cast<unsigned long>(window), extension);
    return desktopFolder() + name;
}

}  // namespace posix

namespace {

constexpr size_t kMaxPropsBytes = 64 * 1024;

std::vector<std::u16string> propertyLines(WindowHandle window) {
    std::vector<std::u16string> lines;
    std::string bytes;
    if (!posix::readFileCapped(posix::windowFile(window, "props"), kMaxPropsBytes, bytes)) return lines;
    for (const auto& line : text::split(text::fromUtf8(bytes), u"\n")) {
        std::u16string t = text::trim(line);
        if (!t.empty()) lines.push_back(t);
    }
    return lines;
}

bool hasLine(WindowHandle window, const std::u16string& wanted) {
    for (const auto& line : propertyLines(window))
        if (text::equalsNoCase(line, wanted)) return true;
    return false;
}

// Sends one message to the window; with waitReply, true only once the window has
// acknowledged it within timeoutMs.
bool sendToWindow(WindowHandle window, const std::string& message, uint32_t timeoutMs, bool waitReply) {
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::string path = posix::windowFile(window, "sock");
    if (window == 0 || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    uint32_t ms = std::max<uint32_t>(timeoutMs, 1);  // a zero time-out would mean none
    timeval limit{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);  // bounds connect and send
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              send(fd, message.data(), message.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(message.size());
    while (ok && waitReply) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
        if (ready < 0 && errno == EINTR) continue;
        char reply;
        ok = ready > 0 && recv(fd, &reply, 1, 0) == 1;
        break;
    }
    ::close(fd);
    return ok;
}

}  // namespace

std::vector<WindowHandle> topLevelWindows() {
    std::vector<WindowHandle> windows;
    DIR* dir = opendir(posix::desktopFolder().c_str());
    if (!dir) return windows;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        size_t dot = name.find('.');
        if (dot < 4 || name.substr(dot) != ".props" || name.find_first_not_of("0123456789") != dot || dot > 9)
            continue;
        WindowHandle number = std::stoul(name.substr(0, dot));
        if (number > 0) windows.push_back(number);
    }
    closedir(dir);
    std::sort(windows.begin(), windows.end());
    return windows;
}

bool windowHasProperty(WindowHandle window, const std::u16string& property) {
    return !property.empty() && hasLine(window, property);
}

bool windowIsVisible(WindowHandle window) { return hasLine(window, u"visible"); }
bool windowIsMinimized(WindowHandle window) { return hasLine(window, u"minimized"); }

bool sendCopyData(WindowHandle window, uintptr_t dwData, const std::string& payload, uint32_t timeoutMs) {
    return sendToWindow(window, "COPYDATA " + std::to_string(dwData) + " " + payload, timeoutMs, true);
}

bool setForegroundWindow(WindowHandle window) { return sendToWindow(window, "FOREGROUND", 1000, false); }

}  // namespace plat
