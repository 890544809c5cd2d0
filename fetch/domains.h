// The rotation over servers: a document or a package is asked of each domain in turn, the
// path on the server joined to it, until one gives what was wanted.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace fetch {

// The URL of path on domain ("http://host" + "/" + path).
std::u16string domainUrl(const std::u16string& domain, const std::u16string& path);
// Tries each domain in order; true as soon as attempt accepts a URL.
bool tryEachDomain(const std::vector<std::u16string>& domains, const std::u16string& path,
                   const std::function<bool(const std::u16string& url)>& attempt);

}  // namespace fetch
