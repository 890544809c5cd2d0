// Which proxy, if any, a transfer goes through, from proxy settings in the system's form
// (see plat::ProxyConfig): the server named for the URL's scheme or for every scheme,
// unless the URL's host is on the bypass list.
#pragma once
#include <string>

namespace fetch {

struct ProxyChoice {
    std::string proxy;  // libcurl's proxy URL, with any user and password; empty: direct
    std::string shown;  // the proxy without credentials, for the log
    bool systemCredentials = false;  // answer a challenge as the logged-on user
};

ProxyChoice chooseProxy(const std::u16string& servers, const std::u16string& bypass, const std::string& url);

// The URL's scheme and host in lower case ("https", "dl1.example"); empty when it has none.
std::string urlScheme(const std::string& url);
std::string urlHost(const std::string& url);

// A host pattern of a bypass list: "*" stands for any run of characters, "<local>" for a
// name without a dot; letter case does not count.
bool bypassMatches(const std::string& pattern, const std::string& host);

}  // namespace fetch
