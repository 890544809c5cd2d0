#include "platform/thread.h"
#include <gtest/gtest.h>
#include <atomic>
#include <set>
#include <thread>
#include "platform/thread_messages.h"
#include "support/poll.h"

using namespace plat;

TEST(Thread, ExitCodeAndWait) {
    std::atomic<ThreadId> seen{0};
    auto t = startThread([&] {
        seen = currentThreadId();
        return 7u;
    });
    ASSERT_NE(t, nullptr);
    t->wait();
    uint32_t code = 0;
    ASSERT_TRUE(t->exitCode(code));
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(seen.load(), t->id());
    t->stop(1);  // already ended: no effect
    ASSERT_TRUE(t->exitCode(code));
    EXPECT_EQ(code, 7u);
}

TEST(Thread, StopReleasesWaitersOfABlockedThread) {
    std::atomic<bool> release{false};
    auto t = startThread([&] {
        testsupport::waitUntil([&] { return release.load(); });
        return 0u;
    });
    ASSERT_NE(t, nullptr);
    uint32_t code = 0;
    EXPECT_FALSE(t->exitCode(code));
    EXPECT_FALSE(t->waitFor(20));
    t->stop(1);
    EXPECT_TRUE(t->waitFor(0));
    t->wait();
    ASSERT_TRUE(t->exitCode(code));
    EXPECT_EQ(code, 1u);
    release = true;  // the abandoned body ends later; its own code is ignored
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(t->exitCode(code));
    EXPECT_EQ(code, 1u);
}

TEST(Thread, OnlyAStoppedThreadSeesItselfStopped) {
    std::atomic<bool> release{false};
    std::atomic<int> seenBefore{-1}, seenAfter{-1};
    auto t = startThread([&] {
        seenBefore = currentThreadStopped();
        testsupport::waitUntil([&] { return release.load(); });
        seenAfter = currentThreadStopped();
        return 0u;
    });
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(testsupport::waitUntil([&] { return seenBefore >= 0; }));
    t->stop(1);
    release = true;
    EXPECT_TRUE(testsupport::waitUntil([&] { return seenAfter >= 0; }));
    EXPECT_EQ(seenBefore.load(), 0);
    EXPECT_EQ(seenAfter.load(), 1);
    EXPECT_FALSE(currentThreadStopped());

    auto ended = startThread([] { return 3u; });
    ended->wait();
    ended->stop(1);  // ended by itself: not a forced stop
    uint32_t code = 0;
    ASSERT_TRUE(ended->exitCode(code));
    EXPECT_EQ(code, 3u);
}

TEST(Thread, IdsAreUniqueAndNeverZero) {
    std::set<ThreadId> ids{currentThreadId()};
    EXPECT_EQ(currentThreadId(), *ids.begin());
    for (int i = 0; i < 5; ++i) {
        auto t = startThread([] { return 0u; });
        ids.insert(t->id());
        t->wait();
    }
    EXPECT_EQ(ids.size(), 6u);
    EXPECT_EQ(ids.count(0), 0u);
}

TEST(ThreadMessages, PostsBeforeTheQueueExistsAreLost) {
    std::atomic<bool> queued{false}, posted{false};
    std::atomic<uint32_t> received{0};
    auto t = startThread([&] {
        testsupport::waitUntil([&] { return posted.load(); });
        ThreadMessage m;
        peekThreadMessage(m, kWmUser, kWmUser, false);  // creates the queue
        queued = true;
        uint32_t sum = 0;
        while (getThreadMessage(m)) sum += m.message + static_cast<uint32_t>(m.wParam);
        received = sum;
        return 0u;
    });
    EXPECT_FALSE(postThreadMessage(t->id(), 1125));
    posted = true;
    EXPECT_TRUE(testsupport::waitUntil([&] { return queued.load(); }));
    EXPECT_TRUE(postThreadMessage(t->id(), 1126, 4));
    EXPECT_TRUE(postThreadMessage(t->id(), kWmQuit));
    EXPECT_TRUE(t->waitFor(5000));
    EXPECT_EQ(received.load(), 1130u);
    EXPECT_FALSE(postThreadMessage(t->id(), 1129));  // the queue went with its thread
}

TEST(ThreadMessages, PeekFiltersByRangeAndCanLeaveTheMessage) {
    auto t = startThread([] {
        ThreadMessage m;
        EXPECT_FALSE(peekThreadMessage(m, 0, 0, false));
        postThreadMessage(currentThreadId(), 5, 0, -3);
        postThreadMessage(currentThreadId(), 1129);
        EXPECT_TRUE(peekThreadMessage(m, 1000, 1200, false));
        EXPECT_EQ(m.message, 1129u);
        EXPECT_TRUE(peekThreadMessage(m, 0, 0, true));
        EXPECT_EQ(m.message, 5u);
        EXPECT_EQ(m.lParam, -3);
        EXPECT_FALSE(peekThreadMessage(m, 6, 1000, true));
        EXPECT_TRUE(getThreadMessage(m));
        EXPECT_EQ(m.message, 1129u);
        return 0u;
    });
    t->wait();
}
