// The host's code-page conversions, for the fuzzer only: the fuzzer exercises the
// document's own decoding (marks, declarations, UTF-8 and UTF-16) and needs no real code
// page tables. The ANSI code page is UTF-8 as on the POSIX host; every other code page
// maps bytes one to one.
#include "text/text.h"

namespace text {

std::string toAnsi(std::u16string_view s) { return toUtf8(s); }
std::u16string fromAnsi(std::string_view s) { return fromUtf8(s); }

bool fromCodePage(std::string_view bytes, unsigned codePage, std::u16string& out) {
    out.clear();
    for (char c : bytes) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return true;
}

}  // namespace text
