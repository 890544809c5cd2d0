// The module GET against a local server: what it sends, which answers count, redirects.
#include <chrono>

#include "modules/module_http.h"
#include "modules_fixture.h"
#include "platform/files.h"
#include "support/temp_folder.h"

namespace modtest {
namespace {

class ModuleHttp : public ::testing::Test {
protected:
    void SetUp() override { server().clear(); }
    void TearDown() override {
        server().clear();
        moduleHttpLimits() = ModuleHttpLimits();
    }
    ModuleHttpReply get(const std::string& url) { return moduleHttpGet(u(url)); }
};

TEST_F(ModuleHttp, SendsOnlyHostWithoutPortAndUserAgentOnAnEscapedTarget) {
    server().serve("/dir/a b/\xC3\xA9.xml", {"body"});
    ModuleHttpReply reply = get(server().url("/dir/a b/\xC3\xA9.xml?x=1"));
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.body, "body");
    ASSERT_EQ(server().requests().size(), 1u);
    testsupport::Request seen = server().requests()[0];
    EXPECT_EQ(seen.target, "/dir/a%20b/%C3%A9.xml?x=1");
    std::multimap<std::string, std::string> expected = {{"Host", "127.0.0.1"},
                                                        {"User-Agent", "Microsoft-ATL-Native/10.00"}};
    EXPECT_EQ(seen.headers, expected);
}

TEST_F(ModuleHttp, StatusRules) {
    struct Case {
        int status;
        bool ok;
    } cases[] = {{200, true},  {204, true},  {206, true},  {304, true},  {305, true}, {307, false},
                 {401, false}, {404, false}, {407, false}, {500, false}, {199, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        testsupport::Reply answer{"x", c.status};
        if (c.status == 307) answer.headers.emplace("Location", server().url("/elsewhere"));
        server().serve("/s", answer);
        ModuleHttpReply reply = get(server().url("/s"));
        EXPECT_EQ(reply.ok, c.ok);
        EXPECT_EQ(reply.status, c.status);
    }
    EXPECT_EQ(server().hits("/elsewhere"), 0);  // 307 is not followed
}

TEST_F(ModuleHttp, FollowsSeeOtherRedirectsToAnotherHost) {
    std::string other = "http://localhost:" + std::to_string(server().port());
    server().serve("/r1", testsupport::redirect(server().url("/r2"), 301));
    server().serve("/r2", testsupport::redirect(other + "/r3", 302));
    server().serve("/r3", testsupport::redirect("/final", 303));  // relative to the last host
    server().serve("/final", {std::string(100000, 'z'), 200, {}, testsupport::Delivery::Chunked});
    ModuleHttpReply reply = get(server().url("/r1"));
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.body, std::string(100000, 'z'));  // chunked, joined
    std::vector<testsupport::Request> seen = server().requests();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3].headers.find("Host")->second, "localhost");
    EXPECT_EQ(seen[3].headers.size(), 2u);

    server().serve("/loop", testsupport::redirect("/loop"));
    EXPECT_FALSE(get(server().url("/loop")).ok);
    EXPECT_LE(server().hits("/loop"), moduleHttpLimits().maxRedirects + 1);
}

TEST_F(ModuleHttp, BoundsOnSizeAndSilence) {
    moduleHttpLimits().maxBodyBytes = 1000;
    server().serve("/big", {std::string(5000, 'b')});
    EXPECT_FALSE(get(server().url("/big")).ok);

    // A server that takes the request and never answers (until the test lets it go).
    server().hold("/silent");
    moduleHttpLimits().timeoutMs = 1000;
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(get(server().url("/silent")).ok);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    server().release();
}

// A trickle, an endless document, a document longer than a document may be: each fails in
// bounded time; an archive streams into its file instead of memory.
TEST_F(ModuleHttp, HostileServersAndStreamedArchives) {
    ModuleHttpLimits& limits = moduleHttpLimits();
    limits.lowSpeedWindowSeconds = 1;
    limits.documentTotalMs = 3000;
    limits.maxDocumentBytes = 64 * 1024;
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
        ModuleHttpReply reply = moduleHttpGet(u(server().url("/hostile")), c.kind);
        EXPECT_FALSE(reply.ok);
        EXPECT_LE(reply.body.size(), limits.maxDocumentBytes);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    }

    testsupport::TempFolder folder;
    server().serve("/archive.zip", {std::string(200 * 1024, 'z'), 200, {}, testsupport::Delivery::Chunked});
    auto file = plat::openFile(folder.agentPath("archive.zip"), plat::OpenMode::WriteTruncate);
    ModuleHttpReply reply = moduleHttpGet(u(server().url("/archive.zip")), ModuleBody::Archive, file.get());
    file.reset();
    EXPECT_TRUE(reply.ok);
    EXPECT_TRUE(reply.body.empty());
    EXPECT_EQ(reply.bodyBytes, 200u * 1024);
    EXPECT_EQ(folder.read("archive.zip"), std::string(200 * 1024, 'z'));
}

}  // namespace
}  // namespace modtest
