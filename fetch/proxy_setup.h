// The system's proxy for a transfer, applied to its libcurl handle. Every transfer takes
// the proxy this way, so none of them follows libcurl's own environment variables.
#pragma once
#include <curl/curl.h>

#include <string>

#include "fetch/proxy_choice.h"

namespace fetch {

// The proxy the user's settings name for url: the automatic configuration's answer
// when there is one (asked once per host and process), the manual settings otherwise.
ProxyChoice systemProxyFor(const std::string& url);

// Sets the handle to go through that proxy (or direct), answering its challenge with the
// proxy URL's user and password or, where the system provides them, the user's own.
ProxyChoice applyProxy(CURL* handle, const std::string& url);

// After the transfer: one line when the proxy refused it for want of credentials (407).
void logProxyRefusal(CURL* handle, const ProxyChoice& choice, const std::string& url);

}  // namespace fetch
