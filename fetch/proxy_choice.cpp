#include "fetch/proxy_choice.h"

#include <cctype>
#include <vector>

#include "text/text.h"

namespace fetch {
namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Entries separated by ";", blanks and empty entries dropped.
std::vector<std::string> entries(const std::u16string& list) {
    std::vector<std::string> out;
    std::string all = text::toUtf8(list), entry;
    for (char c : all + ";") {
        if (c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!entry.empty()) out.push_back(entry);
            entry.clear();
        } else {
            entry += c;
        }
    }
    return out;
}

bool globMatch(const char* p, const char* s) {
    for (; *p; ++p, ++s) {
        if (*p == '*') {
            while (p[1] == '*') ++p;
            for (const char* rest = s;; ++rest) {
                if (globMatch(p + 1, rest)) return true;
                if (!*rest) return false;
            }
        }
        if (!*s || *p != *s) return false;
    }
    return !*s;
}

bool bypassed(const std::u16string& bypass, const std::string& host) {
    for (const std::string& pattern : entries(bypass))
        if (bypassMatches(pattern, host)) return true;
    return false;
}

// "http=a:1" for the scheme, or "a:1" for every scheme; the first fitting entry wins, one
// for the scheme before one for all.
std::string serverFor(const std::u16string& servers, const std::string& scheme) {
    std::string forAll;
    for (const std::string& e : entries(servers)) {
        size_t eq = e.find('='), sep = e.find("://");
        if (eq != std::string::npos && (sep == std::string::npos || eq < sep)) {
            if (lower(e.substr(0, eq)) == scheme) return e.substr(eq + 1);
        } else if (forAll.empty()) {
            forAll = e;
        }
    }
    return forAll;
}

// What the log shows of a proxy URL: its scheme, host and port, never a password.
std::string withoutCredentials(const std::string& proxy) {
    size_t start = proxy.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    size_t end = proxy.find_first_of("/?#", start);
    size_t at = proxy.rfind('@', end == std::string::npos ? proxy.size() : end);
    if (at == std::string::npos || at < start) return proxy;
    return proxy.substr(0, start) + proxy.substr(at + 1);
}

}  // namespace

std::string urlScheme(const std::string& url) {
    size_t sep = url.find("://");
    return sep == std::string::npos ? std::string() : lower(url.substr(0, sep));
}

std::string urlHost(const std::string& url) {
    size_t sep = url.find("://");
    if (sep == std::string::npos) return {};
    size_t start = sep + 3, end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    if (!authority.empty() && authority[0] == '[') return lower(authority.substr(0, authority.find(']') + 1));
    return lower(authority.substr(0, authority.find(':')));
}

bool bypassMatches(const std::string& pattern, const std::string& host) {
    std::string p = lower(pattern);
    size_t sep = p.find("://");
    if (sep != std::string::npos) p.erase(0, sep + 3);
    if (p == "<local>") return !host.empty() && host.find('.') == std::string::npos && host[0] != '[';
    return globMatch(p.c_str(), host.c_str());
}

ProxyChoice chooseProxy(const std::u16string& servers, const std::u16string& bypass, const std::string& url) {
    ProxyChoice choice;
    std::string host = urlHost(url);
    if (host.empty() || bypassed(bypass, host)) return choice;
    std::string server = serverFor(servers, urlScheme(url));
    if (server.empty()) return choice;
    choice.proxy = server.find("://") == std::string::npos ? "http://" + server : server;
    choice.shown = withoutCredentials(choice.proxy);
    return choice;
}

}  // namespace fetch
