// The user's proxy settings as the system keeps them, in the system's own words, and the
// answer of an automatic configuration script for one address.
#pragma once
#include <string>

namespace plat {

struct ProxyConfig {
    bool autoDetect = false;     // look for a configuration script on the network
    std::u16string scriptUrl;    // the automatic configuration script, empty when none
    // "host:port" for every scheme, or "http=host:port;https=host:port"; a server may be
    // written as a URL with a user and password. Empty: direct.
    std::u16string servers;
    // Host patterns that go direct, separated by ";": "*" wildcards, "<local>" for a name
    // without a dot.
    std::u16string bypass;
    // The system answers a proxy's challenge with the logged-on user's own credentials.
    bool systemCredentials = false;
};

// Read anew on every call: the user may change them while the agent runs.
ProxyConfig proxyConfig();

// What the automatic configuration (script or detection) of config says for url: true
// with the servers to use in the form of ProxyConfig::servers (empty: direct), false when
// no script could be found or run. Bounded in time.
bool proxyFromScript(const ProxyConfig& config, const std::u16string& url, std::u16string& servers);

}  // namespace plat
