#include <windows.h>
#include <sddl.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/pipe.h"
#include "platform/win32/wide.h"

namespace plat {

namespace {

constexpr DWORD kBufferBytes = 4096;

// Accepts the full "\\.\pipe\NAME" form or a bare NAME.
std::u16string pipePath(const std::u16string& name) {
    if (name.rfind(u"\\\\", 0) == 0) return name;
    return u"\\\\.\\pipe\\" + name;
}

HANDLE handleOf(PipeHandle pipe) { return static_cast<HANDLE>(pipe); }

// The text form of the SID of the user this process runs as; empty on failure.
std::u16string userSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::u16string();
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    bool ok = size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    LPWSTR text = nullptr;
    if (!ok || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text))
        return std::u16string();
    std::u16string sid = win32::fromWide(text);
    LocalFree(text);
    return sid;
}

// A protected DACL that lets only this user and the system open the pipe or add
// instances to it. Freed with LocalFree; null on failure.
PSECURITY_DESCRIPTOR userOnlyDescriptor() {
    std::u16string sid = userSid();
    if (sid.empty()) return nullptr;
    std::u16string text = u"D:P(A;;GA;;;" + sid + u")(A;;GA;;;SY)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(win32::wide(text), SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return nullptr;
    return descriptor;
}

bool isServerEnd(HANDLE pipe) {
    DWORD flags = 0;
    return GetNamedPipeInfo(pipe, &flags, nullptr, nullptr, nullptr) && (flags & PIPE_SERVER_END) != 0;
}

}  // namespace

// The first instance of the name or nothing: when another process already made the pipe,
// creation fails with access denied (or busy, once its instances are all taken) and the
// pipe stays theirs.
PipeHandle createPipeServer(const std::u16string& name, bool* taken) {
    if (taken) *taken = false;
    PSECURITY_DESCRIPTOR descriptor = userOnlyDescriptor();
    if (!descriptor) return nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE pipe = CreateNamedPipeW(win32::wide(pipePath(name)), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                   1, kBufferBytes, kBufferBytes, 0, &attributes);
    DWORD error = GetLastError();
    LocalFree(descriptor);
    if (pipe != INVALID_HANDLE_VALUE) return pipe;
    if (taken) *taken = error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY;
    SetLastError(error);
    return nullptr;
}

ConnectResult connectPipeClient(PipeHandle pipe) {
    if (ConnectNamedPipe(handleOf(pipe), nullptr)) return ConnectResult::Connected;
    return GetLastError() == ERROR_PIPE_CONNECTED ? ConnectResult::AlreadyConnected : ConnectResult::Failed;
}

bool readPipeMessage(PipeHandle pipe, void* buffer, size_t size, size_t& bytesRead) {
    DWORD got = 0;
    BOOL ok = ReadFile(handleOf(pipe), buffer, static_cast<DWORD>(size), &got, nullptr);
    bytesRead = got;
    if (!ok && GetLastError() == ERROR_MORE_DATA) {
        // A message longer than the buffer is a failed read; its rest is dropped so that
        // the next read starts with the next message.
        char rest[4096];
        DWORD more = 0;
        while (!ReadFile(handleOf(pipe), rest, sizeof(rest), &more, nullptr) &&
               GetLastError() == ERROR_MORE_DATA) {
        }
        SetLastError(ERROR_MORE_DATA);
        return false;
    }
    return ok && got > 0;
}

// A blocking write waits for the reader when the pipe's buffer is full, and on the server's
// end the flush after it waits until the client has read everything, so that a reply
// counts as written only once it is taken. A watchdog cancels whichever of the two still
// waits at the time limit, and again every few milliseconds until the waiting ends, in
// case the limit fell between them.
bool writePipeMessage(PipeHandle pipe, const void* data, size_t size, size_t& written, uint32_t timeoutMs) {
    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return false;
    bool flush = isServerEnd(handleOf(pipe));
    std::mutex mutex;
    std::condition_variable doneChanged;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        auto wait = std::chrono::milliseconds(timeoutMs);
        while (!doneChanged.wait_for(lock, wait, [&] { return done; })) {
            CancelSynchronousIo(self);
            wait = std::chrono::milliseconds(10);
        }
    });
    DWORD put = 0;
    BOOL ok = WriteFile(handleOf(pipe), data, static_cast<DWORD>(size), &put, nullptr);
    if (ok && put == size && flush) ok = FlushFileBuffers(handleOf(pipe));
    DWORD error = GetLastError();
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    doneChanged.notify_one();
    watchdog.join();
    CloseHandle(self);
    written = put;
    SetLastError(error);
    return ok != FALSE && put == size;
}

void disconnectPipe(PipeHandle pipe) { DisconnectNamedPipe(handleOf(pipe)); }

void closePipe(PipeHandle pipe) {
    if (pipe) CloseHandle(handleOf(pipe));
}

PipeHandle openPipe(const std::u16string& name, uint32_t timeoutMs) {
    std::u16string path = pipePath(name);
    // Real time, not the replaceable clock: this is the client's side of the pipe.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        HANDLE pipe =
            CreateFileW(win32::wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
            return pipe;
        }
        DWORD error = GetLastError();
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline || timeoutMs == 0) return nullptr;
        auto left =
            static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1);
        if (error == ERROR_PIPE_BUSY) {
            WaitNamedPipeW(win32::wide(path), left);
        } else {
            // No server yet: look again shortly.
            Sleep(left < 20 ? left : 20);
        }
    }
}

}  // namespace plat
