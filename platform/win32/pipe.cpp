#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

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

}  // namespace

PipeHandle createPipeServer(const std::u16string& name) {
    HANDLE pipe = CreateNamedPipeW(win32::wide(pipePath(name)), PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                   kBufferBytes, kBufferBytes, 0, nullptr);
    return pipe == INVALID_HANDLE_VALUE ? nullptr : pipe;
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

// A blocking write waits for the reader when the pipe's buffer is full; a watchdog cancels
// it when the reader has not made room within the time limit.
bool writePipeMessage(PipeHandle pipe, const void* data, size_t size, size_t& written, uint32_t timeoutMs) {
    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return false;
    std::mutex mutex;
    std::condition_variable doneChanged;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!doneChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done; }))
            CancelSynchronousIo(self);
    });
    DWORD put = 0;
    BOOL ok = WriteFile(handleOf(pipe), data, static_cast<DWORD>(size), &put, nullptr);
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

void flushPipe(PipeHandle pipe) { FlushFileBuffers(handleOf(pipe)); }

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
