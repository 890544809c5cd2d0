// A player that misbehaves on the pipe: the agent answers or ends the connection, and in
// every case ends cleanly without crashing or hanging.
#include <functional>

#include "channel_support.h"

using namespace e2e;

namespace {

// The read errors the agent logs, numbered as Windows numbers them on both hosts: a
// message longer than its buffer, a player gone.
constexpr int kMoreData = 234;    // ERROR_MORE_DATA
constexpr int kBrokenPipe = 109;  // ERROR_BROKEN_PIPE

const std::string kReadFailed = "ReadFile failed or none, error code:";

std::string readError(int code) { return kReadFailed + std::to_string(code); }

// Runs an initiative agent in box, lets misbehave talk to it, and expects the agent to end
// by itself with exit code 0, its pipe thread and its exit logged. Returns the log.
std::vector<std::string> runWith(AgentSandbox& box, OfferServer& server,
                                 const std::function<void(PlayerPipe&)>& misbehave) {
    prepare(box, server);
    auto agent = box.start({"initiative"});
    {
        PlayerPipe pipe;
        EXPECT_TRUE(pipe.connected());
        if (pipe.connected()) misbehave(pipe);
    }
    ExitStatus ran = agent->wait(5000);
    EXPECT_FALSE(ran.timedOut);
    EXPECT_EQ(ran.exitCode, 0);
    std::vector<std::string> lines = box.logLines();
    EXPECT_TRUE(logged(lines, "pipe thread normal exit"));
    EXPECT_TRUE(endsWithExit(lines));
    return lines;
}

// A request one byte longer than the agent's buffer, or an empty message, ends the
// connection before any request is answered.
TEST(ChannelBadInput, OversizedOrEmptyMessagesEndTheConnection) {
    for (size_t size : {size_t{8193}, size_t{0}}) {
        SCOPED_TRACE(size);
        AgentSandbox box;
        OfferServer server;
        std::vector<std::string> lines = runWith(box, server, [&](PlayerPipe& pipe) {
            std::string message = channel::encodeMessage(u"downloadprogress");
            message.resize(size, '\0');
            EXPECT_TRUE(pipe.sendBytes(message));
            EXPECT_TRUE(pipe.closedByAgent());
        });
        EXPECT_FALSE(loggedPrefix(lines, "request:"));
        if (size > 0) EXPECT_TRUE(logged(lines, readError(kMoreData)));
        else EXPECT_TRUE(loggedPrefix(lines, kReadFailed));
#ifdef _WIN32
        // Read, but with nothing in it: not the error of a player gone. (A POSIX socket
        // reports an empty message and a closed connection alike.)
        if (size == 0) {
            EXPECT_FALSE(logged(lines, readError(kBrokenPipe)));
        }
#endif
    }
}

// Unknown words, control words in other letter cases among them, get an empty reply and
// the connection goes on; a request filling the buffer exactly is a request too.
TEST(ChannelBadInput, UnknownWordsGetAnEmptyReply) {
    AgentSandbox box;
    OfferServer server;
    std::vector<std::string> lines = runWith(box, server, [&](PlayerPipe& pipe) {
        for (const char* word : {"ALLCLOSE", "CloseWindow", "hello", "requestxml ", "", "请求"})
            EXPECT_EQ(pipe.ask(word), "") << word;
        std::string full = channel::encodeMessage(u"downloadprogress");
        full.resize(8192, '\0');
        ASSERT_TRUE(pipe.sendBytes(full));
        EXPECT_EQ(pipe.reply(), "0.000000*0.000000");
    });
    for (const char* word : {"ALLCLOSE", "CloseWindow", "hello", "requestxml ", ""})
        EXPECT_TRUE(logged(lines, std::string("request:") + word + ", response:")) << word;
    EXPECT_TRUE(logged(lines, "request:downloadprogress, response:0.000000*0.000000"));
    EXPECT_TRUE(logged(lines, readError(kBrokenPipe)));
    EXPECT_EQ(server.hits("/product/OvUpdate/OvUpdateInfo.xml"), 0);
}

// The player vanishes while the package is coming: asking again during the download gets
// "downloadstart" without a second download, the agent ends with the connection, and no
// partial package is left as if it were whole.
TEST(ChannelBadInput, PlayerVanishingMidDownloadEndsTheAgent) {
    AgentSandbox box;
    OfferServer server;
    std::string path = savedPackagePath(box);
    std::vector<std::string> lines = runWith(box, server, [&](PlayerPipe& pipe) {
        server.hold();
        EXPECT_EQ(pipe.ask("requestxml"), server.offerReply());
        EXPECT_EQ(pipe.ask("downloadsetup"), "downloadstart");
        EXPECT_TRUE(waitUntil([&] { return server.packageHits() == 1; }));
        EXPECT_EQ(pipe.ask("downloadsuccess"), "wait*" + path);
        EXPECT_EQ(pipe.ask("downloadsetup"), "downloadstart");
        EXPECT_EQ(server.packageHits(), 1);
    });
    EXPECT_TRUE(logged(lines, readError(kBrokenPipe)));
    fs::path saved = box.dataFolder() / "OvUpdate" / OfferServer::kPackageName;
    EXPECT_TRUE(!fs::exists(saved) || readFile(saved) == server.package());
}

}  // namespace
