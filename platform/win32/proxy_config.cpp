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

constexpr wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::u16string settingText(const wchar_t* name) {
    wchar_t buffer[2048];
    DWORD bytes = sizeof buffer;
    if (RegGetValueW(HKEY_CURRENT_USER, kInternetSettings, name, RRF_RT_REG_SZ, nullptr, buffer, &bytes) !=
        ERROR_SUCCESS)
        return {};
    return win32::fromWide(buffer);
}

// The values the settings dialog writes beside its binary record, for a WinHTTP that
// reads only the record (Wine's does) or finds none: a manual proxy when it is switched
// on, and the configuration script.
void addDialogValues(ProxyConfig& config) {
    DWORD enabled = 0;
    DWORD bytes = sizeof enabled;
    bool manual = RegGetValueW(HKEY_CURRENT_USER, kInternetSettings, L"ProxyEnable", RRF_RT_REG_DWORD, nullptr,
                               &enabled, &bytes) == ERROR_SUCCESS &&
                  enabled != 0;
    if (config.servers.empty() && manual) {
        config.servers = settingText(L"ProxyServer");
        config.bypass = settingText(L"ProxyOverride");
    }
    if (config.scriptUrl.empty()) config.scriptUrl = settingText(L"AutoConfigURL");
}

}  // namespace

ProxyConfig proxyConfig() {
    ProxyConfig config;
    config.systemCredentials = true;  // SSPI: Negotiate and NTLM as the logged-on user
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
    if (WinHttpGetIEProxyConfigForCurrentUser(&ie)) {
        config.autoDetect = ie.fAutoDetect != FALSE;
        config.scriptUrl = takeText(ie.lpszAutoConfigUrl);
        config.servers = takeText(ie.lpszProxy);
        config.bypass = takeText(ie.lpszProxyBypass);
    }
    addDialogValues(config);
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
