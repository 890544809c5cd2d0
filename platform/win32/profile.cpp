#include <windows.h>

#include <vector>

#include "platform/profile.h"
#include "platform/win32/wide.h"

namespace plat {

int getProfileInt(const std::u16string& section, const std::u16string& key, int defaultValue,
                  const std::u16string& file) {
    return static_cast<int>(
        GetPrivateProfileIntW(win32::wide(section), win32::wide(key), defaultValue, win32::wide(file)));
}

std::u16string getProfileString(const std::u16string& section, const std::u16string& key,
                                const std::u16string& defaultValue, size_t bufferChars,
                                const std::u16string& file) {
    if (bufferChars == 0) return {};
    std::vector<wchar_t> buffer(bufferChars, L'\0');
    DWORD length = GetPrivateProfileStringW(win32::wide(section), win32::wide(key), win32::wide(defaultValue),
                                            buffer.data(), static_cast<DWORD>(bufferChars), win32::wide(file));
    return win32::fromWide(buffer.data(), length);
}

bool writeProfileString(const std::u16string& section, const std::u16string& key, const std::u16string& value,
                        const std::u16string& file) {
    if (!WritePrivateProfileStringW(win32::wide(section), win32::wide(key), win32::wide(value), win32::wide(file)))
        return false;
    // The profile functions leave the new contents in the cache; a setting the agent relies
    // on after a power cut goes to the disk now.
    HANDLE handle = CreateFileW(win32::wide(file), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return true;
    FlushFileBuffers(handle);
    CloseHandle(handle);
    return true;
}

}  // namespace plat
