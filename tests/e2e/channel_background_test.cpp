// The player taking over a background agent: "closewindow" lets the background update go
// on and the pipe be served again; "allclose" ends the background run.
#include <gtest/gtest.h>

#include "channel_support.h"

using namespace e2e;

namespace {

TEST(ChannelBackground, ClosewindowServesAgain_AllcloseEndsTheRun) {
    AgentSandbox box;
    OfferServer server;
    prepare(box, server);
    // The background run stays busy fetching its update document until released.
    server.hold();
    auto agent = box.start();
    ASSERT_TRUE(waitUntil([&] { return server.hits("/product/OvUpdate/OvUpdate.xml") == 1; }));
    {
        PlayerPipe first;
        EXPECT_EQ(first.ask("requestxml"), server.offerReply());
        ASSERT_TRUE(first.send("closewindow"));
        EXPECT_TRUE(first.closedByAgent());
    }
    EXPECT_TRUE(waitUntil([&] {
        return hasLine(box.logLines(), agentLine("非主动升级启动，并且主动升级请求后关闭，此时重新开始等待线程"));
    }));
    EXPECT_TRUE(agent->running());

    PlayerPipe second;
    ASSERT_TRUE(second.connected());
    EXPECT_EQ(second.ask("requestxml"), server.offerReply());  // the offer is kept, not fetched again
    EXPECT_EQ(server.hits("/product/OvUpdate/OvUpdateInfo.xml"), 1);
    ASSERT_TRUE(second.send("allclose"));
    EXPECT_TRUE(second.closedByAgent());

    ExitStatus ran = agent->wait(5000);
    EXPECT_FALSE(ran.timedOut);
    EXPECT_EQ(ran.exitCode, 0);
    std::vector<std::string> lines = box.logLines();
    EXPECT_TRUE(inOrder(
        lines, {"request:closewindow", "pipe thread normal exit",
                "非主动升级启动，并且主动升级请求后关闭，此时重新开始等待线程", "request:allclose,now close all",
                "pipe thread normal exit", "终止正常线程", "正常进程启动，主动升级先完成升级，强制正常线程退出"}));
    EXPECT_TRUE(endsWithExit(lines));
}

}  // namespace
