// The module GET, the transfer's module policy, against a local server: what it sends,
// which answers count, redirects, bounds.
#include <chrono>

#include "fetch/transfer.h"
#include "fetch/fetch_fixture.h"
#include "text/text.h"
#include "platform/files.h"
#include "support/temp_folder.h"

namespace fetchtest {
namespace {

using fetch::ModuleBody;

fetch::TransferRequest moduleGet(const std::string& url, ModuleBody kind = ModuleBody::Archive) {
    fetch::TransferRequest request;
    request.url = text::fromUtf8(url);
    request.policy = fetch::moduleGetPolicy(kind);
    return request;
}

class ModuleHttp : public ::testing::Test {
protected:
    HttpServer& server() { return m_server; }
    fetch::TransferResult get(const std::string& url) {
        m_last = moduleGet(url);
        return fetch::performTransfer(m_last);
    }
    fetch::TransferRequest m_last;
    HttpServer m_server;
};

TEST_F(ModuleHttp, SendsOnlyHostWithoutPortAndUserAgentOnAnEscapedTarget) {
    server().serve("/dir/a b/\xC3\xA9.xml", {"body"});
    EXPECT_TRUE(get(server().url("/dir/a b/\xC3\xA9.xml?x=1")).ok());
    EXPECT_EQ(m_last.responseBody, "body");
    ASSERT_EQ(server().requests().size(), 1u);
    testsupport::Request seen = server().requests()[0];
    EXPECT_EQ(seen.target, "/dir/a%20b/%C3%A9.xml?x=1");
    std::multimap<std::string, std::string> expected = {{"Host", "127.0.0.1"},
                                                        {"User-Agent", "Microsoft-ATL-Native/10.00"}};
    EXPECT_EQ(seen.headers, expected);
}

// Every answer with a final status completes the exchange with it; only a 200 is one the
// module update takes.
TEST_F(ModuleHttp, StatusRules) {
    struct Case {
        int status;
        bool ok;
    } cases[] = {{200, true},  {204, false}, {206, false}, {304, false}, {305, false}, {307, false},
                 {401, false}, {404, false}, {407, false}, {500, false}, {199, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        testsupport::Reply answer{"x", c.status};
        if (c.status == 307) answer.headers.emplace("Location", server().url("/elsewhere"));
        server().serve("/s", answer);
        fetch::TransferResult result = get(server().url("/s"));
        EXPECT_EQ(result.ok(), c.ok);
        if (c.status >= 200) {
            EXPECT_EQ(result.outcome, fetch::TransferOutcome::Completed);
        }
        EXPECT_EQ(result.status, c.status);
    }
    EXPECT_EQ(server().hits("/elsewhere"), 0);  // 307 is not followed
}

TEST_F(ModuleHttp, FollowsSeeOtherRedirectsToAnotherHost) {
    std::string other = "http://localhost:" + std::to_string(server().port());
    server().serve("/r1", testsupport::redirect(server().url("/r2"), 301));
    server().serve("/r2", testsupport::redirect(other + "/r3", 302));
    server().serve("/r3", testsupport::redirect("/final", 303));  // relative to the last host
    server().serve("/final", {std::string(100000, 'z'), 200, {}, testsupport::Delivery::Chunked});
    EXPECT_TRUE(get(server().url("/r1")).ok());
    EXPECT_EQ(m_last.responseBody, std::string(100000, 'z'));  // chunked, joined
    std::vector<testsupport::Request> seen = server().requests();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3].headers.find("Host")->second, "localhost");
    EXPECT_EQ(seen[3].headers.size(), 2u);

    server().serve("/loop", testsupport::redirect("/loop"));
    EXPECT_EQ(get(server().url("/loop")).outcome, fetch::TransferOutcome::TooManyRedirects);
    EXPECT_LE(server().hits("/loop"), m_last.policy.maxRedirects + 1);
}

TEST_F(ModuleHttp, BoundsOnSizeAndSilence) {
    server().serve("/big", {std::string(5000, 'b')});
    fetch::TransferRequest request = moduleGet(server().url("/big"));
    request.policy.maxMemoryBody = 1000;
    EXPECT_FALSE(fetch::performTransfer(request).ok());

    // A server that takes the request and never answers (until the test lets it go).
    server().hold("/silent");
    request = moduleGet(server().url("/silent"));
    request.policy.stallMs = 1000;
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(fetch::performTransfer(request).ok());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    server().release();
}

// A trickle, an endless document, a document longer than a document may be: each fails in
// bounded time; an archive streams into its file instead of memory.
TEST_F(ModuleHttp, HostileServersAndStreamedArchives) {
    testsupport::Reply trickle{std::string(1000, 't'), 200, {}, testsupport::Delivery::Trickle};
    trickle.trickleEvery = std::chrono::milliseconds(50);
    struct Case {
        const char* name;
        testsupport::Reply reply;
        ModuleBody kind;
    } cases[] = {
        {"trickling archive", trickle, ModuleBody::Archive},
        {"endless document", {"", 200, {}, testsupport::Delivery::Endless}, ModuleBody::Document},
        {"document beyond its limit", {std::string(100 * 1024, 'd')}, ModuleBody::Document},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server().serve("/hostile", c.reply);
        auto started = std::chrono::steady_clock::now();
        fetch::TransferRequest request = moduleGet(server().url("/hostile"), c.kind);
        request.policy.lowSpeedWindowSeconds = 1;
        request.policy.memoryTotalMs = 3000;
        request.policy.maxMemoryBody = 64 * 1024;
        EXPECT_FALSE(fetch::performTransfer(request).ok());
        EXPECT_LE(request.responseBody.size(), request.policy.maxMemoryBody);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    }

    testsupport::TempFolder folder;
    server().serve("/archive.zip", {std::string(200 * 1024, 'z'), 200, {}, testsupport::Delivery::Chunked});
    auto file = plat::openFile(folder.agentPath("archive.zip"), plat::OpenMode::WriteTruncate);
    fetch::TransferRequest request = moduleGet(server().url("/archive.zip"));
    request.sinkFile = file.get();
    fetch::TransferResult result = fetch::performTransfer(request);
    file.reset();
    EXPECT_TRUE(result.ok());
    EXPECT_TRUE(request.responseBody.empty());
    EXPECT_EQ(result.bytes, 200u * 1024);
    EXPECT_EQ(folder.read("archive.zip"), std::string(200 * 1024, 'z'));
}


#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
// Over https with a certificate of the test's own: verified against the authority it is
// given it goes through with the same request bytes as over http; a peer it cannot verify
// gets no request at all. (The Windows build verifies through Schannel and the system's
// certificate store instead.)
class ModuleHttps : public ::testing::Test {
protected:
    fetch::TransferResult get(const std::string& url, bool trusted) {
        m_request = moduleGet(url, ModuleBody::Document);
        std::string authority = m_folder.native("authority.pem");
        if (trusted && m_tls.writeCertificate(authority)) m_request.policy.caFile = authority;
        return fetch::performTransfer(m_request);
    }
    testsupport::TempFolder m_folder;
    HttpServer m_tls{testsupport::Scheme::Https};
    fetch::TransferRequest m_request;
};

TEST_F(ModuleHttps, VerifiedPeerGetsTheSameRequestAsOverHttp) {
    m_tls.serve("/m/update.xml", Reply{"<root/>"});
    EXPECT_TRUE(get(m_tls.url("/m/update.xml"), true).ok());
    EXPECT_EQ(m_request.responseBody, "<root/>");
    std::multimap<std::string, std::string> expected = {{"Host", "127.0.0.1"},
                                                        {"User-Agent", "Microsoft-ATL-Native/10.00"}};
    ASSERT_EQ(m_tls.requests().size(), 1u);
    EXPECT_EQ(m_tls.requests()[0].headers, expected);
}

TEST_F(ModuleHttps, RedirectToHttpIsNotFollowedAndUnverifiedPeerGetsNoRequest) {
    HttpServer plain;
    m_tls.serve("/away", testsupport::redirect(plain.url("/m/update.xml")));
    fetch::TransferResult result = get(m_tls.url("/away"), true);
    EXPECT_EQ(result.outcome, fetch::TransferOutcome::InsecureRedirect);
    EXPECT_EQ(result.status, 302);
    EXPECT_EQ(plain.hits("/m/update.xml"), 0);

    m_tls.clear();
    result = get(m_tls.url("/m/update.xml"), false);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(m_tls.requests().size(), 0u);
}
#endif

}  // namespace
}  // namespace fetchtest
