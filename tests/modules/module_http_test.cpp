// The module GET against a local server: what it sends, which answers count, redirects.
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "modules/module_http.h"
#include "support.h"

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
    server().file("/dir/a b/\xC3\xA9.xml", "body");
    ModuleHttpReply reply = get(server().url("/dir/a b/\xC3\xA9.xml?x=1"));
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.body, "body");
    ASSERT_EQ(server().requests().size(), 1u);
    SeenRequest seen = server().requests()[0];
    EXPECT_EQ(seen.target, "/dir/a%20b/%C3%A9.xml?x=1");
    std::multimap<std::string, std::string> expected = {{"Host", "127.0.0.1"},
                                                        {"User-Agent", "Microsoft-ATL-Native/10.00"}};
    EXPECT_EQ(seen.headers, expected);
}

TEST_F(ModuleHttp, StatusRules) {
    struct Case {
        int status;
        bool ok;
    } cases[] = {{200, true}, {204, true}, {206, true}, {304, true}, {305, true},  {307, false},
                 {401, false}, {404, false}, {407, false}, {500, false}, {199, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        server().route("/s", Route{c.status, "x", c.status == 307 ? server().url("/elsewhere") : ""});
        ModuleHttpReply reply = get(server().url("/s"));
        EXPECT_EQ(reply.ok, c.ok);
        EXPECT_EQ(reply.status, c.status);
    }
    EXPECT_EQ(server().hits("/elsewhere"), 0);  // 307 is not followed
}

TEST_F(ModuleHttp, FollowsSeeOtherRedirectsToAnotherHost) {
    std::string other = "http://localhost:" + std::to_string(server().port());
    server().route("/r1", Route{301, "", server().url("/r2")});
    server().route("/r2", Route{302, "", other + "/r3"});
    server().route("/r3", Route{303, "", "/final"});  // relative to the last host
    server().route("/final", Route{200, std::string(100000, 'z'), "", true});
    ModuleHttpReply reply = get(server().url("/r1"));
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.body, std::string(100000, 'z'));  // chunked, joined
    std::vector<SeenRequest> seen = server().requests();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3].headers.find("Host")->second, "localhost");
    EXPECT_EQ(seen[3].headers.size(), 2u);

    server().route("/loop", Route{302, "", "/loop"});
    EXPECT_FALSE(get(server().url("/loop")).ok);
    EXPECT_LE(server().hits("/loop"), moduleHttpLimits().maxRedirects + 1);
}

TEST_F(ModuleHttp, BoundsOnSizeAndSilence) {
    moduleHttpLimits().maxBodyBytes = 1000;
    server().file("/big", std::string(5000, 'b'));
    EXPECT_FALSE(get(server().url("/big")).ok);

    // A server that takes the request and never answers (until the test lets it go).
    std::mutex mutex;
    std::condition_variable released;
    bool done = false;
    httplib::Server silent;
    silent.Get(".*", [&](const httplib::Request&, httplib::Response&) {
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [&] { return done; });
    });
    int port = silent.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread listening([&] { silent.listen_after_bind(); });
    moduleHttpLimits().timeoutMs = 1000;
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(get("http://127.0.0.1:" + std::to_string(port) + "/x").ok);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    released.notify_all();
    silent.stop();
    listening.join();
}

}  // namespace
}  // namespace modtest
