// Windows test builds: the registry values a test sets up for the agent (the POSIX host
// reads a registry file the tests write instead).
#pragma once
#ifdef _WIN32
#include <windows.h>

#include <string>

namespace testreg {

// Writes a string value, creating the key; an empty name is the key's default value.
inline bool setString(HKEY hive, const std::wstring& subKey, const std::wstring& name, const std::wstring& value) {
    HKEY key;
    if (RegCreateKeyExW(hive, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// Removes the key with everything below it.
inline void deleteKey(HKEY hive, const std::wstring& subKey) { RegDeleteTreeW(hive, subKey.c_str()); }

}  // namespace testreg

#endif
