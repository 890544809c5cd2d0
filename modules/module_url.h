// URL text of the module update: escaping of characters a URL may not carry, and the
// canonical form of archive URLs.
#pragma once
#include <string>

namespace modurl {

// UTF-8 form of url with blanks, control characters, bytes above 0x7E and the characters
// " < > \ ^ ` { | } written as %XX. "%" itself is kept, so escaping twice changes nothing.
std::string escape(const std::u16string& url);

// Escaped, with "." and ".." path steps resolved; the escaped text when it does not parse.
std::u16string canonical(const std::u16string& url);

// Where the archive of a module lies: sourceDir + "/bin/" + name + ".zip", the name's "\"
// carried as "/" (a module "plugins\codec.dll" is served at bin/plugins/codec.dll.zip).
std::u16string archiveUrl(const std::u16string& sourceDir, const std::u16string& name);

}  // namespace modurl
