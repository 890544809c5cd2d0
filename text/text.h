// Text conversions and helpers. Every wide text of the agent is std::u16string
// (UTF-16 code units, as on Windows); bytes and UTF-8 travel as std::string.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace text {

std::string toUtf8(std::u16string_view s);
std::u16string fromUtf8(std::string_view s);

// The thread's ANSI code page: the active code page on Windows, UTF-8 on Linux.
std::string toAnsi(std::u16string_view s);
std::u16string fromAnsi(std::string_view s);

// Decode bytes in a Windows code page (65001 = UTF-8, 1200 = UTF-16LE, 936 = GBK, ...).
// Returns false when the code page is unknown to the host.
bool fromCodePage(std::string_view bytes, unsigned codePage, std::u16string& out);

std::u16string toLower(std::u16string_view s);
std::u16string toUpper(std::u16string_view s);
bool equalsNoCase(std::u16string_view a, std::u16string_view b);
// Removes blanks, tabs, carriage returns and line feeds at both ends.
std::u16string trim(std::u16string_view s);
// Cuts at every occurrence of sep and drops empty pieces.
std::vector<std::u16string> split(std::u16string_view s, std::u16string_view sep);

std::u16string fromInt(long long v);
// C atoi rule: leading blanks, optional sign, leading digits; anything else gives 0.
int atoi(std::u16string_view s);

}  // namespace text
