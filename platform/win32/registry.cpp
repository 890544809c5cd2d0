#include <windows.h>

#include <vector>

#include "platform/registry.h"
#include "platform/win32/wide.h"

namespace plat {

namespace {

HKEY rootKey(Hive hive) {
    switch (hive) {
        case Hive::LocalMachine: return HKEY_LOCAL_MACHINE;
        case Hive::CurrentUser: return HKEY_CURRENT_USER;
        case Hive::ClassesRoot: return HKEY_CLASSES_ROOT;
    }
    return HKEY_LOCAL_MACHINE;
}

}  // namespace

bool readRegistryString(Hive hive, const std::u16string& subKey, const std::u16string& valueName,
                        size_t bufferChars, std::u16string& value) {
    if (bufferChars == 0) return false;
    // Query access only and no view flag: a 32-bit agent reads the 32-bit view.
    HKEY key = nullptr;
    if (RegOpenKeyExW(rootKey(hive), win32::wide(subKey), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    // One spare character keeps the text terminated when the stored value lacks its NUL.
    std::vector<wchar_t> buffer(bufferChars + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(bufferChars * sizeof(wchar_t));
    const wchar_t* name = valueName.empty() ? nullptr : win32::wide(valueName);
    LONG status = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    size_t chars = bytes / sizeof(wchar_t);
    // A value stored without its terminator must still leave room for one.
    if (chars == bufferChars && buffer[chars - 1] != L'\0') return false;
    value = win32::fromWide(buffer.data());
    return true;
}

}  // namespace plat
