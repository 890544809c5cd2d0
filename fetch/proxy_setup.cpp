#include "fetch/proxy_setup.h"

#include <map>
#include <mutex>

#include "app/log.h"
#include "platform/proxy_config.h"
#include "text/text.h"

namespace fetch {
namespace {

// Finding and running a configuration script can take seconds; its answer for a host
// holds for the rest of the process, failures included.
constexpr size_t kMaxScriptAnswers = 64;

struct ScriptAnswer {
    bool found = false;
    std::u16string servers;
};

bool scriptAnswer(const plat::ProxyConfig& config, const std::string& url, std::u16string& servers) {
    static std::mutex lock;
    static std::map<std::string, ScriptAnswer> answers;
    std::string key = text::toUtf8(config.scriptUrl) + (config.autoDetect ? " detect " : " ") + urlScheme(url) +
                      "://" + urlHost(url);
    std::lock_guard<std::mutex> guard(lock);
    auto known = answers.find(key);
    if (known == answers.end()) {
        ScriptAnswer answer;
        answer.found = plat::proxyFromScript(config, text::fromUtf8(url), answer.servers);
        if (!answer.found) LOG(u"automatic proxy configuration gave no answer for %s", text::fromUtf8(urlHost(url)));
        if (answers.size() >= kMaxScriptAnswers) answers.clear();
        known = answers.emplace(key, answer).first;
    }
    servers = known->second.servers;
    return known->second.found;
}

}  // namespace

ProxyChoice systemProxyFor(const std::string& url) {
    plat::ProxyConfig config = plat::proxyConfig();
    ProxyChoice choice;
    std::u16string fromScript;
    if ((config.autoDetect || !config.scriptUrl.empty()) && scriptAnswer(config, url, fromScript))
        choice = chooseProxy(fromScript, u"", url);
    else
        choice = chooseProxy(config.servers, config.bypass, url);
    choice.systemCredentials = config.systemCredentials;
    return choice;
}

ProxyChoice applyProxy(CURL* handle, const std::string& url) {
    ProxyChoice choice = systemProxyFor(url);
    // Set even when empty: an empty proxy is direct, whatever the environment says.
    curl_easy_setopt(handle, CURLOPT_PROXY, choice.proxy.c_str());
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "");
    if (choice.proxy.empty()) return choice;
    curl_easy_setopt(handle, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    // ":" asks for the logged-on user's credentials (Negotiate, NTLM) where the system
    // has them; a user in the proxy URL goes first.
    if (choice.systemCredentials && choice.shown == choice.proxy)
        curl_easy_setopt(handle, CURLOPT_PROXYUSERPWD, ":");
    return choice;
}

void logProxyRefusal(CURL* handle, const ProxyChoice& choice, const std::string& url) {
    if (choice.proxy.empty()) return;
    long status = 0, tunnel = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(handle, CURLINFO_HTTP_CONNECTCODE, &tunnel);
    if (status != 407 && tunnel != 407) return;
    LOG(u"proxy %s refused %s: 407, no credentials it accepts", text::fromUtf8(choice.shown), text::fromUtf8(url));
}

}  // namespace fetch
