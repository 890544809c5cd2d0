// A real proxy server (Debian's squid) on 127.0.0.1 for the time the object lives, with
// its own configuration in a folder of its own: it alone resolves the given host names
// (to 127.0.0.1), tunnels https with CONNECT to any port, and asks for Basic
// authentication when told to.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_folder.h"

namespace testsupport {

// The one account of a proxy that asks for authentication.
constexpr char kProxyUser[] = "agent";
constexpr char kProxyPassword[] = "proxy-pass";

class ProxyServer {
public:
    // Empty when squid cannot run here (it is a Linux program), else why it did not start.
    static std::string unavailable();

    ProxyServer(std::vector<std::string> privateHosts, bool basicAuth);
    ~ProxyServer();  // stops squid and removes what it left
    ProxyServer(const ProxyServer&) = delete;
    ProxyServer& operator=(const ProxyServer&) = delete;

    bool listening() const { return m_port != 0; }
    int port() const { return m_port; }
    // "http://127.0.0.1:<port>", or with "user:password@" before the host.
    std::string url() const;
    std::string url(const std::string& user, const std::string& password) const;
    std::string log() const;  // squid's own log, for a failure's message

private:
    TempFolder m_folder;
    std::unique_ptr<Process> m_process;
    std::string m_name;  // squid's service name, which its shared-memory files carry
    int m_port = 0;
};

}  // namespace testsupport
