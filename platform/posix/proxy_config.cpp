// The stand-in host's proxy settings come from the environment, the way command-line
// tools take them: http_proxy, https_proxy (or HTTPS_PROXY) and no_proxy (or NO_PROXY).
// They are turned into the system's form; a no_proxy name covers its subdomains, as it
// does for those tools.
#include "platform/proxy_config.h"

#include <cstdlib>

#include "text/text.h"

namespace plat {
namespace {

std::string env(const char* name, const char* fallback = nullptr) {
    const char* value = std::getenv(name);
    if ((!value || !*value) && fallback) value = std::getenv(fallback);
    return value ? value : "";
}

// "a.example,.b.example, *" -> "a.example;*.a.example;b.example;*.b.example;*"
std::u16string bypassFrom(const std::string& noProxy) {
    std::u16string out;
    size_t start = 0;
    while (start <= noProxy.size()) {
        size_t end = noProxy.find(',', start);
        if (end == std::string::npos) end = noProxy.size();
        std::u16string name = text::trim(text::fromUtf8(noProxy.substr(start, end - start)));
        while (!name.empty() && name[0] == u'.') name.erase(0, 1);
        if (!name.empty()) out += name == u"*" ? u"*;" : name + u";*." + name + u";";
        start = end + 1;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

}  // namespace

ProxyConfig proxyConfig() {
    ProxyConfig config;
    std::string http = env("http_proxy"), https = env("https_proxy", "HTTPS_PROXY");
    if (!http.empty()) config.servers += u"http=" + text::fromUtf8(http);
    if (!https.empty()) config.servers += (config.servers.empty() ? u"" : u";") + (u"https=" + text::fromUtf8(https));
    config.bypass = bypassFrom(env("no_proxy", "NO_PROXY"));
    return config;
}

bool proxyFromScript(const ProxyConfig&, const std::u16string&, std::u16string&) { return false; }

}  // namespace plat
