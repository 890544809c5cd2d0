// Encoding names as documents declare them, and the Windows code pages they stand for.
#pragma once
#include <string>
#include <string_view>

namespace xml {

constexpr int kUnknownCodePage = -1;
constexpr int kAnsiCodePage = 0;
constexpr int kUtf8CodePage = 65001;
constexpr int kUtf16LeCodePage = 1200;
constexpr int kUtf16BeCodePage = 1201;
constexpr int kUtf32CodePage = 65005;  // any name starting with "UTF-32"

// Code page of an encoding name: empty gives the ANSI code page, names are looked up with
// ASCII letters lower-cased; kUnknownCodePage when the name is not known.
int codePageOf(std::u16string_view name);

// The encoding a document names at its top: the encoding pseudo-attribute of the XML
// declaration, or for HTML the charset in the content of a
// <meta http-equiv="Content-Type" content="text/html; charset=..."> tag. Empty when none.
std::u16string declaredEncoding(std::u16string_view top);

}  // namespace xml
