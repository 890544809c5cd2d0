// Transfers against servers that misbehave on purpose: each ends as a failed transfer in
// bounded time, with nothing left on disk under the target's name or beside it.
#include <gtest/gtest.h>

#include <chrono>

#include "fetch/transfer.h"
#include "text/text.h"
#include "support/http_server.h"
#include "support/temp_folder.h"

namespace {

using namespace testsupport;
using std::chrono::steady_clock;

// Far beyond the shrunk limits below, far below a test's time-out.
constexpr auto kBound = std::chrono::seconds(20);

class HostileServer : public ::testing::Test {
protected:
    void SetUp() override {
        m_policy.lowSpeedWindowSeconds = 1;
        m_policy.memoryTotalMs = 3000;
        m_policy.maxMemoryBody = 64 * 1024;
    }

    fetch::TransferPolicy m_policy;  // shrunk bounds for every request
    HttpServer m_server;
    TempFolder m_folder;
};

struct Case {
    const char* name;
    Reply reply;
    bool toFile;
    uint64_t maxFileBytes;
};

Reply reply(Delivery delivery, std::string body, size_t cutAt = 0) {
    Reply r;
    r.body = std::move(body);
    r.delivery = delivery;
    r.cutAt = cutAt;
    r.trickleEvery = std::chrono::milliseconds(50);
    return r;
}

}  // namespace

TEST_F(HostileServer, EveryAbuseEndsAsAFailureInBoundedTimeWithNothingOnDisk) {
    const Case cases[] = {
        {"trickle to a file", reply(Delivery::Trickle, std::string(1000, 'p')), true, 0},
        {"trickle to memory", reply(Delivery::Trickle, std::string(1000, 'd')), false, 0},
        {"endless body to memory", reply(Delivery::Endless, ""), false, 0},
        {"endless body past the declared size", reply(Delivery::Endless, ""), true, 100 * 1024},
        {"length beyond the memory limit", reply(Delivery::CutShort, std::string(1 << 20, 'x'), 10), false, 0},
        {"length beyond the declared size", reply(Delivery::CutShort, std::string(200 * 1024, 'x'), 10), true,
         100 * 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_server.serve("/body", c.reply);
        fetch::TransferRequest request;
        request.policy = m_policy;
        request.url = text::fromUtf8(m_server.url("/body"));
        request.saveToFile = c.toFile;
        request.savePath = m_folder.agentPath("save/package.exe");
        request.maxFileBytes = c.maxFileBytes;
        auto started = steady_clock::now();
        EXPECT_FALSE(fetch::performTransfer(request));
        EXPECT_LT(steady_clock::now() - started, kBound);
        EXPECT_LE(request.responseBody.size(), m_policy.maxMemoryBody);
        fs::path save = m_folder.path() / "save";
        EXPECT_TRUE(!fs::exists(save) || fs::is_empty(save));
    }
}

TEST_F(HostileServer, ABodyWithinItsDeclaredSizeStillArrives) {
    m_server.serve("/body", reply(Delivery::Chunked, std::string(100 * 1024, 'k')));
    fetch::TransferRequest request;
    request.policy = m_policy;
    request.url = text::fromUtf8(m_server.url("/body"));
    request.saveToFile = true;
    request.savePath = m_folder.agentPath("package.exe");
    request.maxFileBytes = 100 * 1024;
    EXPECT_TRUE(fetch::performTransfer(request));
    EXPECT_EQ(m_folder.read("package.exe").size(), 100u * 1024);
}
