// The module GET over https against a local TLS server with a certificate of the test's
// own: verified against the authority it is given it goes through with the same request
// bytes as over http; a peer it cannot verify gets no request at all. On the Linux host
// only: the Windows build verifies through Schannel and the Windows certificate store.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "fetch/transfer.h"
#include "support/http_server.h"
#include "support/temp_folder.h"

namespace {

class TlsServer {
public:
    explicit TlsServer(const testsupport::TempFolder& folder)
        : m_server(folder.native("cert.pem").c_str(), folder.native("key.pem").c_str()) {
        m_server.Get("/m/update.xml", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_requests;
            m_headers.clear();
            for (const auto& [name, value] : request.headers)
                if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT")
                    m_headers.emplace(name, value);
            response.set_content("<root/>", "text/xml");
        });
        m_server.Get("/away", [this](const httplib::Request&, httplib::Response& response) {
            response.set_redirect(m_redirectTo);
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        // Bound and listening: a connection waits in the queue until the loop takes it.
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~TlsServer() {
        m_server.stop();
        m_thread.join();
    }
    std::string url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(m_port) + path; }
    std::string m_redirectTo;  // where "/away" sends the client
    int requests() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    std::multimap<std::string, std::string> headers() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_headers;
    }

private:
    httplib::SSLServer m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    int m_requests = 0;
    std::multimap<std::string, std::string> m_headers;
};

class ModuleHttps : public ::testing::Test {
protected:
    void SetUp() override {
        std::string command =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
            "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
            m_folder.native("key.pem") + " -out " + m_folder.native("cert.pem") + " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    // The module GET of url, trusting the test's authority when asked.
    fetch::TransferResult get(const std::string& url, bool trusted) {
        m_request.url = std::u16string(url.begin(), url.end());
        m_request.policy = fetch::moduleGetPolicy(fetch::ModuleBody::Document);
        if (trusted) m_request.policy.caFile = m_folder.native("cert.pem");
        return fetch::performTransfer(m_request);
    }

    testsupport::TempFolder m_folder;
    fetch::TransferRequest m_request;
};

TEST_F(ModuleHttps, VerifiedPeerGetsTheSameRequestAsOverHttp) {
    TlsServer server(m_folder);
    EXPECT_TRUE(get(server.url("/m/update.xml"), true).ok());
    EXPECT_EQ(m_request.responseBody, "<root/>");
    std::multimap<std::string, std::string> expected = {{"Host", "127.0.0.1"},
                                                        {"User-Agent", "Microsoft-ATL-Native/10.00"}};
    EXPECT_EQ(server.headers(), expected);
}

TEST_F(ModuleHttps, RedirectFromHttpsToHttpIsNotFollowed) {
    TlsServer server(m_folder);
    testsupport::HttpServer plain;
    server.m_redirectTo = plain.url("/m/update.xml");
    fetch::TransferResult result = get(server.url("/away"), true);
    EXPECT_EQ(result.outcome, fetch::TransferOutcome::InsecureRedirect);
    EXPECT_EQ(result.status, 302);
    EXPECT_EQ(plain.hits("/m/update.xml"), 0);
}

TEST_F(ModuleHttps, PeerThatCannotBeVerifiedGetsNoRequest) {
    TlsServer server(m_folder);
    fetch::TransferResult result = get(server.url("/m/update.xml"), false);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(server.requests(), 0);
}

}  // namespace
#endif
