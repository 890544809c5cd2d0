// A player that misbehaves on the pipe: the agent answers or ends the connection, and in
// every case ends cleanly without crashing or hanging.
#include <gtest/gtest.h>

#include <functional>

#include "channel_support.h"

using namespace e2e;

namespace {

// Runs an initiative agent, lets misbehave talk to it, and expects the agent to end by
// itself with exit code 0 and the log line expected.
void expectCleanEnd(const std::function<void(PlayerPipe&, OfferServer&)>& misbehave, const std::string& expected) {
    Sandbox box;
    OfferServer server;
    prepare(box, server);
    auto agent = box.start({"initiative"});
    {
        PlayerPipe pipe;
        ASSERT_TRUE(pipe.connected());
        misbehave(pipe, server);
    }
    RunResult ran = agent->wait(5000);
    EXPECT_FALSE(ran.timedOut) << expected;
    EXPECT_EQ(ran.exitCode, 0) << expected;
    std::vector<std::string> lines = box.logLines();
    bool found = false;
    for (const std::string& line : lines) found = found || line.rfind(agentLine(expected), 0) == 0;
    EXPECT_TRUE(found) << expected;
    EXPECT_TRUE(hasLine(lines, agentLine("pipe thread normal exit"))) << expected;
    EXPECT_EQ(lines.back(), agentLine("升级程序OvUpdate.exe退出")) << expected;
}

TEST(ChannelBadInput, OversizedOrEmptyMessagesEndTheConnection) {
    expectCleanEnd(
        [](PlayerPipe& pipe, OfferServer&) {
            EXPECT_TRUE(pipe.sendBytes(std::string(8194, 'x')));
            EXPECT_TRUE(pipe.closedByAgent());
        },
        "ReadFile failed or none, error code:");
    expectCleanEnd(
        [](PlayerPipe& pipe, OfferServer&) {
            EXPECT_TRUE(pipe.sendBytes(""));
            EXPECT_TRUE(pipe.closedByAgent());
        },
        "ReadFile failed or none, error code:");
}

TEST(ChannelBadInput, UnknownWordsGetAnEmptyReply) {
    expectCleanEnd(
        [](PlayerPipe& pipe, OfferServer&) {
            for (const char* word : {"ALLCLOSE", "CloseWindow", "hello", "requestxml ", ""})
                EXPECT_EQ(pipe.ask(word), "") << word;
            // Non-ASCII text and a request of exactly the buffer's size are requests too.
            EXPECT_EQ(pipe.ask("请求"), "");
            std::string full = channel::encodeMessage(u"downloadprogress");
            full.resize(8192, '\0');
            ASSERT_TRUE(pipe.sendBytes(full));
            EXPECT_EQ(pipe.reply(), "0.000000*0.000000");
        },
        "request:ALLCLOSE, response:");
}

TEST(ChannelBadInput, PlayerVanishingMidDownloadEndsTheAgent) {
    expectCleanEnd(
        [](PlayerPipe& pipe, OfferServer& server) {
            server.hold();
            EXPECT_EQ(pipe.ask("requestxml").rfind("update:", 0), 0u);
            EXPECT_EQ(pipe.ask("downloadsetup"), "downloadstart");
            EXPECT_TRUE(eventually([&] { return server.packageHits() == 1; }));
        },
        "ReadFile failed or none, error code:");
}

}  // namespace
