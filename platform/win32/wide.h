// The agent's UTF-16 strings and the Win32 wide API share their code units: wchar_t is
// two bytes on Windows, so the conversions are casts.
#pragma once
#include <string>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide characters are UTF-16 code units");

namespace plat::win32 {

inline const wchar_t* wide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

inline std::u16string fromWide(const wchar_t* s) {
    return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}

inline std::u16string fromWide(const wchar_t* s, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(s), length);
}

}  // namespace plat::win32
