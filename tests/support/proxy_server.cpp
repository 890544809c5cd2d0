#include "support/proxy_server.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "support/poll.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace testsupport {
namespace {

constexpr char kSquid[] = "/usr/sbin/squid";
constexpr char kBasicHelper[] = "/usr/lib/squid/basic_ncsa_auth";
constexpr char kPasswordLine[] = "agent:$apr1$ovupdate$KBh3P1MtEQbcCzz7o/0fZ1\n";  // kProxyPassword

#ifndef _WIN32
// A port nobody listens on now; squid takes it a moment later.
int freePort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    if (s >= 0) ::close(s);
    return port;
}

bool accepts(int port) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (s >= 0) ::close(s);
    return ok;
}
#endif

}  // namespace

std::string ProxyServer::unavailable() {
#ifdef _WIN32
    return "squid is a Linux program; this test runs the Windows build";
#else
    std::error_code e;
    if (!std::filesystem::exists(kSquid, e)) return "squid is not installed (scripts/setup-debian.sh installs it)";
    return "";
#endif
}

ProxyServer::ProxyServer(std::vector<std::string> privateHosts, bool basicAuth) {
#ifndef _WIN32
    if (!unavailable().empty()) return;
    int port = freePort();
    m_name = "ovtest" + std::to_string(port);
    std::string hosts;
    for (const std::string& h : privateHosts) hosts += "127.0.0.1 " + h + "\n";
    m_folder.write("hosts", hosts);
    m_folder.write("passwd", kPasswordLine);
    std::string conf = "http_port 127.0.0.1:" + std::to_string(port) +
                       "\npid_filename none\naccess_log none\ncache deny all\npinger_enable off\n"
                       "shutdown_lifetime 0 seconds\ncache_effective_user proxy\n"
                       "dns_nameservers 127.0.0.1\nforwarded_for delete\n"
                       "cache_log " + m_folder.native("cache.log") + "\nhosts_file " + m_folder.native("hosts") + "\n";
    if (basicAuth)
        conf += std::string("auth_param basic program ") + kBasicHelper + " " + m_folder.native("passwd") +
                "\nacl authed proxy_auth REQUIRED\nhttp_access deny !authed\n";
    conf += "http_access allow all\n";
    m_folder.write("squid.conf", conf);
    // squid drops to its own user before it writes its log.
    std::filesystem::permissions(m_folder.path(), std::filesystem::perms::all);

    Launch launch;
    launch.program = kSquid;
    launch.args = {"-N", "-n", m_name, "-f", m_folder.native("squid.conf")};
    launch.output = m_folder.path() / "squid.out";
    m_process = Process::start(launch);
    if (m_process && waitUntil([&] { return accepts(port) || !m_process->running(); }, std::chrono::seconds(20)) &&
        m_process->running())
        m_port = port;
#endif
}

ProxyServer::~ProxyServer() {
    if (!m_process) return;
    m_process->kill();
    // Shared memory squid made under its service name.
    std::error_code e;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", e))
        if (entry.path().filename().string().rfind(m_name + "-", 0) == 0) std::filesystem::remove(entry.path(), e);
}

std::string ProxyServer::url() const { return "http://127.0.0.1:" + std::to_string(m_port); }

std::string ProxyServer::url(const std::string& user, const std::string& password) const {
    return "http://" + user + ":" + password + "@127.0.0.1:" + std::to_string(m_port);
}

std::string ProxyServer::log() const {
    std::error_code e;
    std::string out;
    for (const char* name : {"squid.out", "cache.log"})
        if (std::filesystem::exists(m_folder.path() / name, e)) out += m_folder.read(name);
    return out;
}

}  // namespace testsupport
