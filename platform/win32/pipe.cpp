#include <windows.h>

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

HANDLE handleOf(PipeHandle pipe) {
    return static_cast<HANDLE>(pipe);
}

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
    // A message longer than the buffer fails with ERROR_MORE_DATA, as a failed read.
    BOOL ok = ReadFile(handleOf(pipe), buffer, static_cast<DWORD>(size), &got, nullptr);
    bytesRead = got;
    return ok && got > 0;
}

bool writePipeMessage(PipeHandle pipe, const void* data, size_t size, size_t& written) {
    DWORD put = 0;
    BOOL ok = WriteFile(handleOf(pipe), data, static_cast<DWORD>(size), &put, nullptr);
    written = put;
    return ok != FALSE;
}

void flushPipe(PipeHandle pipe) {
    FlushFileBuffers(handleOf(pipe));
}

void disconnectPipe(PipeHandle pipe) {
    DisconnectNamedPipe(handleOf(pipe));
}

void closePipe(PipeHandle pipe) {
    if (pipe) CloseHandle(handleOf(pipe));
}

PipeHandle openPipe(const std::u16string& name, uint32_t timeoutMs) {
    std::u16string path = pipePath(name);
    // Real time, not the replaceable clock: this is the client's side of the pipe.
    uint64_t deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        HANDLE pipe = CreateFileW(win32::wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
            return pipe;
        }
        DWORD error = GetLastError();
        uint64_t now = GetTickCount64();
        if (now >= deadline) return nullptr;
        DWORD left = static_cast<DWORD>(deadline - now);
        if (error == ERROR_PIPE_BUSY) {
            WaitNamedPipeW(win32::wide(path), left);
        } else {
            // No server yet: look again shortly.
            Sleep(left < 20 ? left : 20);
        }
    }
}

}  // namespace plat
