// Escaping of text written into a document and resolving of references read from it.
#pragma once
#include <string>
#include <string_view>

namespace xml {

constexpr unsigned kEscapeAttribute = 0x1;       // also the double quote and the apostrophe
constexpr unsigned kEscapeKeepReferences = 0x2;  // an "&" that starts "&name;" stays as it is

// "&" "<" ">" become "&amp;" "&lt;" "&gt;"; in attributes '"' and "'" become "&quot;" "&apos;".
std::u16string escape(std::u16string_view value, unsigned flags = 0);

// Resolves "&#decimal;", "&#xhex;" and named references (the XML five and the HTML
// entities). An "&" that starts no such reference is kept as it is.
std::u16string unescape(std::u16string_view value);

// The value as a CDATA section; a "]]>" inside it is split so the section cannot end early.
std::u16string cdataSection(std::u16string_view value);

// Character code of a named reference ("amp" -> 0x26), 0 when unknown. The name as written
// wins; otherwise its lower-case form is tried.
unsigned namedReference(std::u16string_view name);

}  // namespace xml
