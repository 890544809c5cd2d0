// Facts about the POSIX stand-in host; every location comes from the environment so that
// each test run can have its own.
#include "platform/system.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include "platform/files.h"
#include "platform/posix/host.h"
#include "text/text.h"

namespace plat {

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::u16string folderFrom(std::string native) {
    while (native.size() > 1 && native.back() == '/') native.pop_back();
    return posix::corePath(native);
}

}  // namespace

std::u16string appDataFolder() {
    if (!env("APPDATA").empty()) return folderFrom(env("APPDATA"));
    if (!env("XDG_CONFIG_HOME").empty()) return folderFrom(env("XDG_CONFIG_HOME"));
    if (!env("HOME").empty()) return folderFrom(env("HOME") + "/.config");
    return std::u16string();
}

std::u16string windowsFolder() { return folderFrom(env("WINDIR").empty() ? "/etc" : env("WINDIR")); }

int osMajorVersion() { return 10; }

std::u16string executablePath() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return std::u16string();
    return posix::corePath(std::string(buffer, static_cast<size_t>(n)));
}

std::u16string environmentVariable(const std::u16string& name) {
    return text::fromUtf8(env(text::toUtf8(name).c_str()));
}

// The system errors the agent's pipe lines name, numbered as Windows numbers them, so that
// both hosts write the same lines; any other error keeps its own number.
uint32_t lastErrorCode() {
    switch (errno) {
        case EMSGSIZE: return 234;  // ERROR_MORE_DATA: a message longer than the buffer
        case EPIPE:
        case ECONNRESET: return 109;  // ERROR_BROKEN_PIPE: the other end is gone
        default: return static_cast<uint32_t>(errno);
    }
}

void setUserDefaultLocale() { setlocale(LC_ALL, ""); }

void writeStandardOutput(const char* text) {
    if (!text) return;
    fputs(text, stdout);
    fflush(stdout);
}

// The C runtime here has no invalid-parameter handler, and a pure virtual call already
// aborts the process, which is the crash the trap would produce.
void installRuntimeErrorTrap() {}

bool shellExecute(const std::u16string& path) {
    std::string native = nativePath(path);
    struct stat st;
    if (path.empty() || ::stat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    // A downloaded file has no run bit.
    if (chmod(native.c_str(), (st.st_mode & 07777) | S_IXUSR | S_IXGRP | S_IXOTH) != 0) return false;
    // Double fork: the started program is adopted by init and never becomes our zombie.
    // A close-on-exec pipe tells whether the exec itself worked.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    pid_t child = fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        setsid();
        if (fork() != 0) _exit(0);
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);  // our descriptors stay ours
        execl(native.c_str(), native.c_str(), static_cast<char*>(nullptr));
        int error = errno;
        (void)!::write(report[1], &error, sizeof error);
        _exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n > 0) errno = error;
    return n == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace plat
