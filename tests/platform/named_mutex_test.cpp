#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <algorithm>
#include <thread>
#include <vector>

#include "platform/named_mutex.h"
#include "support/host_sandbox.h"

using namespace plat;

class NamedMutex : public testsupport::HostTest {};

TEST_F(NamedMutex, ExistsWhileAnyHandleIsOpen) {
    EXPECT_EQ(openNamedMutex(u"OvUpdate"), nullptr);
    MutexHandle created = createNamedMutex(u"OvUpdate", true, false);
    ASSERT_NE(created, nullptr);
    MutexHandle opened = openNamedMutex(u"OvUpdate");
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(openNamedMutex(u"Other"), nullptr);
    closeMutex(created);
    MutexHandle again = openNamedMutex(u"OvUpdate");  // still held open by `opened`
    EXPECT_NE(again, nullptr);
    closeMutex(again);
    closeMutex(opened);
    EXPECT_EQ(openNamedMutex(u"OvUpdate"), nullptr);
}

TEST_F(NamedMutex, SeenAcrossProcessesAndGoneWithTheOwner) {
#ifdef _WIN32
    GTEST_SKIP() << "the holder is a forked process; on Windows the Wine run of two agents covers it";
#else
    int toParent[2], toChild[2];
    ASSERT_EQ(pipe(toParent), 0);
    ASSERT_EQ(pipe(toChild), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        MutexHandle m = createNamedMutex(u"AEE5851B-96A7-4F3A-8C04-D2CAE21C8003", true, true);
        char c = m ? 'y' : 'n';
        (void)!::write(toParent[1], &c, 1);
        (void)!::read(toChild[0], &c, 1);  // hold it until told to end
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(toParent[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    MutexHandle seen = openNamedMutex(u"AEE5851B-96A7-4F3A-8C04-D2CAE21C8003");
    EXPECT_NE(seen, nullptr);
    closeMutex(seen);
    // A second creator gets a handle to the same object.
    MutexHandle second = createNamedMutex(u"AEE5851B-96A7-4F3A-8C04-D2CAE21C8003", true, false);
    EXPECT_NE(second, nullptr);
    closeMutex(second);
    (void)!::write(toChild[1], "x", 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(openNamedMutex(u"AEE5851B-96A7-4F3A-8C04-D2CAE21C8003"), nullptr);
    for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
#endif
}

// Ten creators racing, fifty times: each time exactly one is told the mutex is new, and
// the mutex is gone again once all have closed their handles.
TEST_F(NamedMutex, OfCreatorsRacingExactlyOneFindsItNew) {
    constexpr size_t kCreators = 10;
    for (int round = 0; round < 50; ++round) {
        std::vector<MutexHandle> handles(kCreators);
        std::vector<char> existed(kCreators, 0);
        std::vector<std::thread> creators;
        for (size_t i = 0; i < kCreators; ++i)
            creators.emplace_back([&, i] {
                bool was = false;
                handles[i] = createNamedMutex(u"OvUpdate", true, false, &was);
                existed[i] = was;
            });
        for (auto& t : creators) t.join();
        EXPECT_EQ(std::count(existed.begin(), existed.end(), 0), 1) << "round " << round;
        for (MutexHandle h : handles) {
            EXPECT_NE(h, nullptr);
            closeMutex(h);
        }
        ASSERT_EQ(openNamedMutex(u"OvUpdate"), nullptr);
    }
}
