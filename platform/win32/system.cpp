// windows.h first: the shell headers build on it.
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "platform/system.h"
#include "platform/win32/wide.h"

namespace plat {

std::u16string appDataFolder() {
    wchar_t path[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) return {};
    return win32::fromWide(path);
}

std::u16string windowsFolder() {
    wchar_t path[MAX_PATH] = {};
    UINT length = GetWindowsDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return win32::fromWide(path, length);
}

int osMajorVersion() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&info)) return 0;
#pragma GCC diagnostic pop
    return static_cast<int>(info.dwMajorVersion);
}

std::u16string executablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return win32::fromWide(buffer.data(), length);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::u16string environmentVariable(const std::u16string& name) {
    DWORD needed = GetEnvironmentVariableW(win32::wide(name), nullptr, 0);
    if (needed == 0) return {};
    std::vector<wchar_t> buffer(needed);
    DWORD length = GetEnvironmentVariableW(win32::wide(name), buffer.data(), needed);
    if (length == 0 || length >= needed) return {};
    return win32::fromWide(buffer.data(), length);
}

uint32_t lastErrorCode() { return GetLastError(); }

void setUserDefaultLocale() { setlocale(LC_ALL, ""); }

void writeStandardOutput(const char* text) {
    fputs(text, stdout);
    fflush(stdout);
}

namespace {

// A runtime failure becomes an access violation that nobody handles, so it reaches the
// crash reporter's unhandled-exception filter like any other crash.
[[noreturn]] void raiseAccessViolation() {
    RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    std::abort();  // not reached: a non-continuable exception never returns
}

void invalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {
    raiseAccessViolation();
}

void pureCall() { raiseAccessViolation(); }

}  // namespace

void installRuntimeErrorTrap() {
    _set_invalid_parameter_handler(invalidParameter);
    _set_purecall_handler(pureCall);
    // Code built with GCC reports a pure virtual call through std::terminate rather than
    // the runtime's purecall routine; it takes the same way out.
    std::set_terminate(pureCall);
}

bool shellExecute(const std::u16string& path) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = 0;
    info.hwnd = nullptr;
    info.lpVerb = nullptr;
    info.lpFile = win32::wide(path);
    info.lpParameters = nullptr;
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) != FALSE;
}

}  // namespace plat
