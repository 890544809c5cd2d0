#include <gtest/gtest.h>

#include <vector>

#include "channel/pipe_messages.h"
#include "channel/pipe_server.h"
#include "channel_fixture.h"
#include "platform/pipe.h"
#include "platform/thread.h"

namespace {

// The player's end, driven by hand.
class Client {
public:
    Client() : m_pipe(plat::openPipe(channel::kPipeName, 5000)) {}
    ~Client() { close(); }
    bool connected() const { return m_pipe != nullptr; }
    void close() {
        if (m_pipe) plat::closePipe(m_pipe);
        m_pipe = nullptr;
    }
    bool sendBytes(const std::string& bytes) {
        size_t written = 0;
        return plat::writePipeMessage(m_pipe, bytes.data(), bytes.size(), written, 5000);
    }
    bool send(const std::u16string& text) { return sendBytes(channel::encodeMessage(text)); }
    // The next reply; false when the agent closed the connection instead.
    bool reply(std::string& bytes) {
        std::vector<char> buffer(8192);
        size_t n = 0;
        if (!plat::readPipeMessage(m_pipe, buffer.data(), buffer.size(), n)) return false;
        bytes.assign(buffer.data(), n);
        return true;
    }
    std::u16string ask(const std::u16string& text) {
        std::string bytes;
        if (!send(text) || !reply(bytes)) return u"<closed>";
        return channel::decodeMessage(bytes.data(), bytes.size());
    }

private:
    plat::PipeHandle m_pipe;
};

class PipeServer : public ::testing::Test {
protected:
    void SetUp() override { ChannelWorld::get().reset(); }
    void TearDown() override { channel::connectionLimits() = channel::ConnectionLimits{}; }

    // Serves one client, in initiative mode when asked; the flag is the test's.
    std::shared_ptr<plat::Thread> serve(bool initiative = false) {
        channel::ChannelContext context;
        context.initiative = initiative;
        context.clientConnected = &m_clientConnected;
        return plat::startThread([context] { return channel::serveOneConnection(context); });
    }
    std::atomic<bool> m_clientConnected{false};
    static uint32_t resultOf(const std::shared_ptr<plat::Thread>& server) {
        uint32_t code = 99;
        if (server->waitFor(5000)) server->exitCode(code);
        return code;
    }
};

TEST_F(PipeServer, AnswersEveryRequestUntilAllclose) {
    auto server = serve();
    Client client;
    ASSERT_TRUE(client.connected());
    EXPECT_EQ(client.ask(u"downloadprogress"), u"0.000000*0.000000");
    EXPECT_TRUE(m_clientConnected);

    // Requests without reply text still get a message: the terminator alone.
    std::string bytes;
    ASSERT_TRUE(client.send(u"ALLCLOSE") && client.reply(bytes));
    EXPECT_EQ(bytes, std::string(2, '\0'));
    EXPECT_EQ(client.ask(u"hello"), u"");
    EXPECT_EQ(client.ask(u""), u"");
    // The text ends at the first NUL, whatever follows it in the message.
    EXPECT_EQ(client.ask(std::u16string(u"downloadprogress\0junk", 21)), u"0.000000*0.000000");

    ASSERT_TRUE(client.send(u"allclose"));
    EXPECT_FALSE(client.reply(bytes));  // no reply: the agent closes the pipe
    EXPECT_EQ(resultOf(server), channel::kEnded);
    EXPECT_FALSE(m_clientConnected);
}

TEST_F(PipeServer, ClosewindowLetsABackgroundAgentServeAgain) {
    auto server = serve();
    {
        Client first;
        ASSERT_TRUE(first.send(u"closewindow"));
        EXPECT_EQ(resultOf(server), channel::kWindowClosed);
    }
    server = serve();
    Client second;
    EXPECT_EQ(second.ask(u"downloadsuccess"), u"failed*");
    second.send(u"allclose");
    EXPECT_EQ(resultOf(server), channel::kEnded);

    server = serve(true);
    Client third;
    ASSERT_TRUE(third.send(u"closewindow"));
    EXPECT_EQ(resultOf(server), channel::kEnded);
}

TEST_F(PipeServer, BrokenConversationsEndTheConnection) {
    std::string bytes;
    auto server = serve();
    {
        Client vanishing;
        EXPECT_EQ(vanishing.ask(u"downloadprogress"), u"0.000000*0.000000");
    }
    EXPECT_EQ(resultOf(server), channel::kEnded);
    EXPECT_FALSE(m_clientConnected);

    server = serve();
    Client tooLong;
    ASSERT_TRUE(tooLong.sendBytes(std::string(channel::kRequestBytes + 2, 'a')));
    EXPECT_FALSE(tooLong.reply(bytes));
    EXPECT_EQ(resultOf(server), channel::kEnded);

    // Exactly the buffer's size is still a request.
    server = serve();
    Client full;
    std::string request = channel::encodeMessage(u"downloadprogress");
    request.resize(channel::kRequestBytes, '\0');
    ASSERT_TRUE(full.sendBytes(request) && full.reply(bytes));
    EXPECT_EQ(channel::decodeMessage(bytes.data(), bytes.size()), u"0.000000*0.000000");

    ASSERT_TRUE(full.sendBytes(""));  // an empty message
    EXPECT_FALSE(full.reply(bytes));
    EXPECT_EQ(resultOf(server), channel::kEnded);
}

// A client that sends and never reads: its first reply is not taken within the limit,
// and the connection ends as if the client had left.
TEST_F(PipeServer, AReplyNotTakenInTimeEndsTheConnection) {
    channel::connectionLimits().replyTimeoutMs = 100;
    auto server = serve();
    Client client;
    ASSERT_TRUE(client.send(u"downloadprogress"));
    ASSERT_TRUE(client.send(u"downloadprogress"));
    EXPECT_EQ(resultOf(server), channel::kEnded);
    EXPECT_FALSE(m_clientConnected);
}

TEST(PipeMessages, DecodeStopsAtNulAndDropsHalfCharacters) {
    std::string bytes = channel::encodeMessage(u"ok*\\tmp\\新.exe");
    EXPECT_EQ(bytes.size(), 2 * (13 + 1));
    EXPECT_EQ(bytes.substr(bytes.size() - 2), std::string(2, '\0'));
    EXPECT_EQ(channel::decodeMessage(bytes.data(), bytes.size()), u"ok*\\tmp\\新.exe");
    EXPECT_EQ(channel::decodeMessage("a\0b", 3), u"a");
    EXPECT_EQ(channel::decodeMessage("", 0), u"");
}

}  // namespace
