// URL text: escaping of characters a URL may not carry, and the canonical form of a URL.
#pragma once
#include <string>

namespace fetch {

// UTF-8 form of url with blanks, control characters, bytes above 0x7E and the characters
// " < > \ ^ ` { | } written as %XX. "%" itself is kept, so escaping twice changes nothing.
std::string escapeUrl(const std::u16string& url);

// Escaped, with "." and ".." path steps resolved; the escaped text when it does not parse.
std::u16string canonicalUrl(const std::u16string& url);

}  // namespace fetch
