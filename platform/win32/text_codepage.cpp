// ANSI and code-page conversions through the system's own tables.
#include <windows.h>

#include "text/text.h"
#include "platform/win32/wide.h"

namespace text {

namespace {

bool decode(std::string_view bytes, unsigned codePage, DWORD flags, std::u16string& out) {
    out.clear();
    if (bytes.empty()) return true;
    int length = static_cast<int>(bytes.size());
    int needed = MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0);
    if (needed <= 0) return false;
    std::wstring buffer(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(codePage, flags, bytes.data(), length, &buffer[0], needed);
    out = plat::win32::fromWide(buffer.data(), buffer.size());
    return true;
}

}  // namespace

std::string toAnsi(std::u16string_view s) {
    if (s.empty()) return {};
    auto* source = reinterpret_cast<const wchar_t*>(s.data());
    int length = static_cast<int>(s.size());
    int needed = WideCharToMultiByte(CP_ACP, 0, source, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string out(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, source, length, &out[0], needed, nullptr, nullptr);
    return out;
}

std::u16string fromAnsi(std::string_view s) {
    std::u16string out;
    decode(s, CP_ACP, 0, out);
    return out;
}

bool fromCodePage(std::string_view bytes, unsigned codePage, std::u16string& out) {
    if (codePage == 1200 || codePage == 1201) {  // UTF-16 is no multi-byte code page for the system
        size_t low = codePage == 1200 ? 0 : 1;
        out.clear();
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i + low]) |
                                         (static_cast<unsigned char>(bytes[i + 1 - low]) << 8));
        return true;
    }
    if (!IsValidCodePage(codePage)) return false;
    return decode(bytes, codePage, 0, out);
}

}  // namespace text
