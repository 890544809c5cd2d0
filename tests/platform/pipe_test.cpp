#include "platform/pipe.h"

#include <chrono>
#include <future>
#include <thread>
#include "support/host_sandbox.h"

using namespace plat;

class Pipe : public testsupport::HostTest {
protected:
    static bool send(PipeHandle pipe, const std::string& bytes) {
        size_t written = 0;
        return writePipeMessage(pipe, bytes.data(), bytes.size(), written, 5000) && written == bytes.size();
    }
    static std::string receive(PipeHandle pipe, size_t size, bool& ok) {
        std::string buffer(size, '\0');
        size_t n = 0;
        ok = readPipeMessage(pipe, buffer.data(), buffer.size(), n);
        buffer.resize(n);
        return buffer;
    }
};

TEST_F(Pipe, MessagesKeepTheirBoundariesBothWays) {
    PipeHandle server = createPipeServer(u"\\\\.\\pipe\\initiativeupdatepipe");
    ASSERT_NE(server, nullptr);
    // The client connects before the server waits: it is accepted all the same.
    PipeHandle client = openPipe(u"initiativeupdatepipe", 1000);
    ASSERT_NE(client, nullptr);
#ifdef _WIN32  // Windows reports the early client as already connected; both mean connected
    EXPECT_EQ(connectPipeClient(server), ConnectResult::AlreadyConnected);
#else
    EXPECT_EQ(connectPipeClient(server), ConnectResult::Connected);
#endif
    EXPECT_EQ(connectPipeClient(server), ConnectResult::AlreadyConnected);

    ASSERT_TRUE(send(client, "abc"));
    ASSERT_TRUE(send(client, std::string("d\0e\0", 4)));
    bool ok = false;
    EXPECT_EQ(receive(server, 8192, ok), "abc");
    EXPECT_TRUE(ok);
    EXPECT_EQ(receive(server, 8192, ok), std::string("d\0e\0", 4));
    EXPECT_TRUE(ok);
    // The server's write returns once the client has read the message.
    auto replied = std::async(std::launch::async, [&] { return send(server, "reply"); });
    EXPECT_EQ(receive(client, 100, ok), "reply");
    EXPECT_TRUE(ok);
    ASSERT_TRUE(replied.get());

    // A second client finds no free instance while the first is connected.
    EXPECT_EQ(openPipe(u"initiativeupdatepipe", 0), nullptr);

    // A message longer than the buffer fails the read; the connection stays usable.
    // Sent from another thread: a Windows pipe's writer waits while the message does not
    // fit its 4096-byte buffer.
    auto sent = std::async(std::launch::async, [&] { return send(client, std::string(9000, 'x')); });
    std::string part = receive(server, 8192, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(part.size(), 8192u);
    ASSERT_TRUE(sent.get());
    ASSERT_TRUE(send(client, "next"));
    EXPECT_EQ(receive(server, 8192, ok), "next");

    // The client leaves: the server's read fails with nothing read.
    closePipe(client);
    EXPECT_EQ(receive(server, 8192, ok), "");
    EXPECT_FALSE(ok);
    disconnectPipe(server);
    closePipe(server);
    EXPECT_FALSE(std::filesystem::exists(native("run/initiativeupdatepipe")));
}

TEST_F(Pipe, ClientsWaitForTheServerUpToTheirTimeOut) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(openPipe(u"later", 50), nullptr);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));

    auto client = std::async(std::launch::async, [] { return openPipe(u"later", 5000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    PipeHandle server = createPipeServer(u"later");
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(connectPipeClient(server), ConnectResult::Connected);
    PipeHandle c = client.get();
    ASSERT_NE(c, nullptr);
    // The server hangs up: the client's read fails.
    disconnectPipe(server);
    bool ok = true;
    receive(c, 10, ok);
    EXPECT_FALSE(ok);
    closePipe(c);
    closePipe(server);
}

TEST_F(Pipe, ANewInstanceServesTheNextClient) {
    for (int round = 0; round < 2; ++round) {
        PipeHandle server = createPipeServer(u"p");
        ASSERT_NE(server, nullptr);
        PipeHandle client = openPipe(u"p", 1000);
        ASSERT_NE(client, nullptr);
        ASSERT_NE(connectPipeClient(server), ConnectResult::Failed);  // Windows: already connected
        ASSERT_TRUE(send(client, "closewindow"));
        bool ok = false;
        EXPECT_EQ(receive(server, 64, ok), "closewindow");
        disconnectPipe(server);
        closePipe(server);
        closePipe(client);
    }
}

// A reader that never reads: once the pipe's buffer is full, a write gives up within its
// time limit instead of waiting for ever.
TEST_F(Pipe, WriteToAReaderThatNeverReadsEndsInBoundedTime) {
    PipeHandle server = createPipeServer(u"stuck");
    ASSERT_NE(server, nullptr);
    PipeHandle client = openPipe(u"stuck", 1000);
    ASSERT_NE(client, nullptr);
    connectPipeClient(server);
    std::string message(1024, 'r');
    auto started = std::chrono::steady_clock::now();
    bool failed = false;
    for (int i = 0; i < 100000 && !failed; ++i) {
        size_t written = 0;
        failed = !writePipeMessage(server, message.data(), message.size(), written, 200);
    }
    EXPECT_TRUE(failed);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    closePipe(client);
    closePipe(server);
}
