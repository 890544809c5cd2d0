#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "agent/threads.h"
#include "agent/process_state.h"
#include "fetch/engine_callback.h"
#include "channel/pipe_server.h"
#include "platform/thread.h"
#include "platform/thread_messages.h"

using namespace agent;
using channel::kEnded;
using channel::kNotServed;
using channel::kWindowClosed;

namespace {

// A gate the test's stand-in threads wait at until the test opens it.
class Gate {
public:
    void open() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    void pass() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

// Scripted results of the connection server for the wait thread.
std::vector<uint32_t> g_serveResults;
size_t g_serveCalls = 0;
std::function<void()> g_onServe;

uint32_t scriptedServe() {
    if (g_onServe) g_onServe();
    uint32_t result = g_serveCalls < g_serveResults.size() ? g_serveResults[g_serveCalls] : kEnded;
    ++g_serveCalls;
    return result;
}

class Threads : public ::testing::Test {
protected:
    void TearDown() override {
        m_gate->open();  // lets every blocked stand-in thread finish
        ProcessState& state = processState();
        setNormalThreadHandle(nullptr);
        state.waitThread = nullptr;
        state.initiative = false;
        state.clientConnected = false;
        g_serveResults.clear();
        g_serveCalls = 0;
        g_onServe = nullptr;
    }
    // A thread that runs until the gate opens, then returns 0. It holds the gate itself:
    // it may wake after the test is gone.
    std::shared_ptr<plat::Thread> blockedThread() {
        return plat::startThread([gate = m_gate] {
            gate->pass();
            return 0u;
        });
    }
    static bool ended(plat::Thread& thread, uint32_t& code) {
        return thread.waitFor(2000) && thread.exitCode(code);
    }

    std::shared_ptr<Gate> m_gate = std::make_shared<Gate>();
};

}  // namespace

// Only the end-of-run message ends the loop; WM_QUIT, the engine's status report and
// unknown messages are taken and passed over.
TEST_F(Threads, MessageLoopEndsOnlyWithTheEndOfTheRun) {
    std::promise<plat::ThreadId> queueReady;
    auto loop = plat::startThread([&queueReady] {
        plat::ThreadMessage m;
        plat::peekThreadMessage(m, plat::kWmUser, plat::kWmUser, false);
        queueReady.set_value(plat::currentThreadId());
        runMessageLoop();
        return 0u;
    });
    plat::ThreadId id = queueReady.get_future().get();
    ASSERT_TRUE(plat::postThreadMessage(id, plat::kWmQuit));
    ASSERT_TRUE(plat::postThreadMessage(id, fetch::UM_ENGINE_TASK_STATUS));
    ASSERT_TRUE(plat::postThreadMessage(id, 0x7777));
    EXPECT_FALSE(loop->waitFor(100));

    ASSERT_TRUE(plat::postThreadMessage(id, UM_UPDATE_RUN_DONE));
    uint32_t code = 99;
    ASSERT_TRUE(ended(*loop, code));
    EXPECT_EQ(code, 0u);
}

// Background mode: a player that closed only its window is served again; any other end of
// a connection stops the background update with exit code 1.
TEST_F(Threads, WaitThreadServesAgainAfterCloseWindowThenStopsTheNormalThread) {
    auto normal = blockedThread();
    setNormalThreadHandle(normal);
    g_serveResults = {kWindowClosed, kWindowClosed, kEnded};
    EXPECT_EQ(runWaitThread(scriptedServe), 0u);
    EXPECT_EQ(g_serveCalls, 3u);
    uint32_t code = 0;
    ASSERT_TRUE(normal->exitCode(code));
    EXPECT_EQ(code, 1u);

    // A pipe that cannot be created ends the background update the same way.
    auto second = blockedThread();
    setNormalThreadHandle(second);
    g_serveResults = {kNotServed};
    g_serveCalls = 0;
    runWaitThread(scriptedServe);
    EXPECT_EQ(g_serveCalls, 1u);
    ASSERT_TRUE(second->exitCode(code));
    EXPECT_EQ(code, 1u);
}

TEST_F(Threads, WaitThreadStopsServingOnceTheNormalThreadIsGone) {
    auto normal = blockedThread();
    setNormalThreadHandle(normal);
    g_serveResults = {kWindowClosed, kWindowClosed, kWindowClosed};
    g_onServe = [] {
        if (g_serveCalls == 1) setNormalThreadHandle(nullptr);  // the run ended meanwhile
    };
    runWaitThread(scriptedServe);
    EXPECT_EQ(g_serveCalls, 2u);
    uint32_t code = 0;
    EXPECT_FALSE(normal->exitCode(code));  // not stopped: it ends by itself
}

TEST_F(Threads, InitiativeModeServesOneConnectionWhateverItsEnd) {
    processState().initiative = true;
    g_serveResults = {kWindowClosed};
    EXPECT_EQ(runWaitThread(scriptedServe), 0u);
    EXPECT_EQ(g_serveCalls, 1u);
}

// The main thread's side: after the normal update thread, an idle wait thread is stopped
// with exit code 0, a connected one is waited for.
TEST_F(Threads, MainStopsAnIdleWaitThread) {
    ProcessState& state = processState();
    setNormalThreadHandle(plat::startThread([] { return 0u; }));
    state.waitThread = blockedThread();
    EXPECT_TRUE(awaitBackgroundRun());
    EXPECT_EQ(normalThreadHandle(), nullptr);
    uint32_t code = 99;
    ASSERT_TRUE(state.waitThread->exitCode(code));
    EXPECT_EQ(code, 0u);
}

TEST_F(Threads, MainWaitsForAWaitThreadWithAPlayerConnected) {
    ProcessState& state = processState();
    state.clientConnected = true;
    setNormalThreadHandle(plat::startThread([] { return 0u; }));
    std::atomic<bool> connectionEnded{false};
    state.waitThread = plat::startThread([&connectionEnded] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a connection in progress
        connectionEnded = true;
        return 0u;
    });
    EXPECT_FALSE(awaitBackgroundRun());
    EXPECT_TRUE(connectionEnded);
}

TEST_F(Threads, MainLeavesTheWaitThreadThatStoppedTheNormalThread) {
    ProcessState& state = processState();
    auto normal = blockedThread();
    setNormalThreadHandle(normal);
    state.waitThread = blockedThread();
    normal->stop(1);
    EXPECT_TRUE(awaitBackgroundRun());
    EXPECT_EQ(normalThreadHandle(), nullptr);
    uint32_t code = 0;
    EXPECT_FALSE(state.waitThread->exitCode(code));  // neither stopped nor waited for
}
