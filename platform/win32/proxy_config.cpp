// The user's proxy settings as WinHTTP reads them (the ones of the system's settings
// dialog), and WinHTTP's run of an automatic configuration script.
#include <windows.h>

#include <winhttp.h>

#include "platform/proxy_config.h"
#include "platform/win32/wide.h"

namespace plat {
namespace {

// Taken over from WinHTTP, which leaves the text for its caller to free.
std::u16string takeText(LPWSTR text) {
    std::u16string out = win32::fromWide(text);
    if (text) GlobalFree(text);
    return out;
}

constexpr int kScriptTimeoutMs = 5000;  // each step of fetching the script

}  // namespace

ProxyConfig proxyConfig() {
    ProxyConfig config;
    config.systemCredentials = true;  // SSPI: Negotiate and NTLM as the logged-on user
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&ie)) return config;
    config.autoDetect = ie.fAutoDetect != FALSE;
    config.scriptUrl = takeText(ie.lpszAutoConfigUrl);
    config.servers = takeText(ie.lpszProxy);
    config.bypass = takeText(ie.lpszProxyBypass);
    return config;
}

bool proxyFromScript(const ProxyConfig& config, const std::u16string& url, std::u16string& servers) {
    HINTERNET session = WinHttpOpen(L"OvUpdate", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) return false;
    WinHttpSetTimeouts(session, kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs, kScriptTimeoutMs);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (config.autoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!config.scriptUrl.empty()) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = win32::wide(config.scriptUrl);
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    bool ok = WinHttpGetProxyForUrl(session, win32::wide(url), &options, &info) != FALSE;
    std::u16string named = takeText(info.lpszProxy);
    takeText(info.lpszProxyBypass);
    WinHttpCloseHandle(session);
    if (ok) servers = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY ? named : std::u16string();
    return ok;
}

}  // namespace plat
