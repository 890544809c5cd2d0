#include "fetch/domains.h"

namespace fetch {

std::u16string domainUrl(const std::u16string& domain, const std::u16string& path) { return domain + u"/" + path; }

bool tryEachDomain(const std::vector<std::u16string>& domains, const std::u16string& path,
                   const std::function<bool(const std::u16string& url)>& attempt) {
    for (const std::u16string& domain : domains)
        if (attempt(domainUrl(domain, path))) return true;
    return false;
}

}  // namespace fetch
