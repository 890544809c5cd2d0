#include "platform/pipe.h"

#include <chrono>
#include <future>
#include <thread>
#include "text/text.h"
#include "support/host_sandbox.h"
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#endif

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
    // A disconnected instance takes the next client too; the client comes once the server
    // waits again.
    PipeHandle server = createPipeServer(u"p");
    ASSERT_NE(server, nullptr);
    for (int round = 0; round < 2; ++round) {
        auto client = std::async(std::launch::async, [] { return openPipe(u"p", 2000); });
        ASSERT_NE(connectPipeClient(server), ConnectResult::Failed);
        PipeHandle c = client.get();
        ASSERT_NE(c, nullptr);
        ASSERT_TRUE(send(c, "closewindow"));
        bool ok = false;
        EXPECT_EQ(receive(server, 64, ok), "closewindow");
        disconnectPipe(server);
        closePipe(c);
    }
    closePipe(server);
}

// Only this user holds and reaches a server.
TEST_F(Pipe, OnlyThisUserHoldsTheServer) {
#ifdef _WIN32
    // The first server keeps the name: another one is refused it.
    PipeHandle first = createPipeServer(u"mine");
    ASSERT_NE(first, nullptr);
    bool taken = false;
    EXPECT_EQ(createPipeServer(u"mine", &taken), nullptr);
    EXPECT_TRUE(taken);
    closePipe(first);
#else
    // The folder is this user's alone: the runtime folder when it is ours and closed to
    // others, else one of the agent's own inside it (/tmp without a runtime folder, an open,
    // sticky or other user's one), which is left as it was. The socket file is the user's only.
    struct Case {
        const char* runtime;  // XDG_RUNTIME_DIR under the sandbox; null: unset
        mode_t mode;
        bool othersFolder;  // given to another user (root only)
        bool served;
    };
    const Case cases[] = {
        {"private", 0700, false, true}, {"run", 0755, false, true},    {"open", 0777, false, true},
        {nullptr, 0, false, true},      {"shared", 01777, false, true}, {"theirs", 0700, true, true},
    };
    const std::string own = "/ovupdate-" + std::to_string(geteuid());
    const std::u16string name = u"private" + text::fromUtf8(std::to_string(getpid()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.runtime ? c.runtime : "unset");
        if (c.othersFolder && geteuid() != 0) continue;
        std::string folder = "/tmp" + own;
        if (c.runtime) {
            folder = native(c.runtime);
            std::filesystem::create_directories(folder);
            ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
            if (c.othersFolder) {
                ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
            }
            setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
            if (c.mode != 0700 || c.othersFolder) folder += own;
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        bool taken = false;
        PipeHandle server = createPipeServer(name, &taken);
        EXPECT_EQ(server != nullptr, c.served);
        EXPECT_EQ(taken, !c.served);
        if (!server) continue;
        struct stat st;
        ASSERT_EQ(stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        ASSERT_EQ(stat((folder + "/" + text::toUtf8(name)).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        PipeHandle client = openPipe(name, 1000);
        EXPECT_NE(client, nullptr);
        if (client) closePipe(client);
        closePipe(server);
    }
    rmdir(("/tmp" + own).c_str());
    for (const auto& [runtime, mode] : {std::pair<const char*, mode_t>{"shared", 01777}, {"run", 0755}}) {
        struct stat left;  // a folder the agent did not make is left as it was
        ASSERT_EQ(stat(native(runtime).c_str(), &left), 0);
        EXPECT_EQ(left.st_mode & 07777, mode) << runtime;
    }
#endif
}

#ifndef _WIN32
// A client of another user that got as far as the socket (its folder and file opened up
// by hand) is turned away on accept; the instance then serves this user's client.
TEST_F(Pipe, AClientOfAnotherUserIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "connecting as another user needs root";
    std::string folder = native("run");
    ASSERT_EQ(chmod(folder.c_str(), 0700), 0);  // private: the socket lies in it directly
    PipeHandle server = createPipeServer(u"guarded");
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(chmod(folder.c_str(), 0711), 0);
    ASSERT_EQ(chmod((folder + "/guarded").c_str(), 0666), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "guarded");
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t child = fork();
    if (child == 0) {  // only system calls from here
        int fd = -1;
        char byte = 1;
        if (chdir(folder.c_str()) != 0 || setgid(65534) != 0 || setuid(65534) != 0 ||
            (fd = socket(AF_UNIX, SOCK_SEQPACKET, 0)) < 0 ||
            connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::write(report[1], &byte, 1) != 1)
            _exit(1);
        _exit(recv(fd, &byte, 1, 0) == 0 ? 0 : 2);  // closed without a word
    }
    close(report[1]);
    char byte = 0;
    bool connected = ::read(report[0], &byte, 1) == 1;
    close(report[0]);
    EXPECT_TRUE(connected);
    if (connected) {
        EXPECT_EQ(connectPipeClient(server), ConnectResult::Refused);
    }
    disconnectPipe(server);
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(chmod(folder.c_str(), 0700), 0);  // private again, as this user's client finds it

    auto client = std::async(std::launch::async, [] { return openPipe(u"guarded", 2000); });
    EXPECT_EQ(connectPipeClient(server), ConnectResult::Connected);
    PipeHandle c = client.get();
    EXPECT_NE(c, nullptr);
    if (c) closePipe(c);
    closePipe(server);
}
#endif

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
