#include "posix_shims.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

struct SavedShellFolder {
    bool saved = false;
    DWORD type = REG_EXPAND_SZ;
    std::wstring value;
} g_appData;

std::wstring widen(const char* s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring out(n > 1 ? static_cast<size_t>(n - 1) : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s, -1, &out[0], n);
    return out;
}

bool writeShellFolder(DWORD type, const std::wstring& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    if (!g_appData.saved) {
        wchar_t old[1024] = {};
        DWORD bytes = sizeof(old) - sizeof(wchar_t);
        if (RegQueryValueExW(key, L"AppData", nullptr, &g_appData.type, reinterpret_cast<BYTE*>(old), &bytes) ==
            ERROR_SUCCESS) {
            g_appData.value = old;
            g_appData.saved = true;
        }
    }
    LONG status = RegSetValueExW(key, L"AppData", 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

}  // namespace

extern "C" int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && std::getenv(name)) return 0;
    if (_putenv_s(name, value) != 0) return -1;
    if (std::strcmp(name, "APPDATA") == 0) {
        std::wstring folder = widen(value);
        for (auto& c : folder)
            if (c == L'/') c = L'\\';
        if (!writeShellFolder(REG_SZ, folder)) return -1;
    }
    return 0;
}

extern "C" int unsetenv(const char* name) {
    _putenv_s(name, "");
    if (std::strcmp(name, "APPDATA") == 0 && g_appData.saved) writeShellFolder(g_appData.type, g_appData.value);
    return 0;
}

extern "C" char* mkdtemp(char* pattern) {
    size_t length = std::strlen(pattern);
    if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0) return nullptr;
    static std::mt19937 random(GetTickCount() ^ GetCurrentProcessId());
    const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (size_t i = length - 6; i < length; ++i) pattern[i] = letters[random() % 36];
        if (CreateDirectoryA(pattern, nullptr)) return pattern;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return nullptr;
    }
    return nullptr;
}
