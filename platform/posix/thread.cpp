// Threads with exit codes over std::thread. A stop records the exit code and releases
// the waiters; the thread itself runs on, abandoned, until it returns or the process
// ends through exitProcessNow.
#include "platform/thread.h"
#include <unistd.h>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include "platform/thread_messages.h"

namespace plat {

namespace {

std::atomic<ThreadId> nextId{1};
thread_local ThreadId myId = 0;
thread_local const std::atomic<bool>* myStopFlag = nullptr;

class PosixThread : public Thread {
public:
    explicit PosixThread(ThreadId id) : m_id(id) {}

    ThreadId id() const override { return m_id; }
    void wait() override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ended.wait(lock, [this] { return m_done; });
    }
    bool waitFor(uint32_t ms) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_ended.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_done; });
    }
    bool exitCode(uint32_t& code) const override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_done) code = m_code;
        return m_done;
    }
    void stop(uint32_t code) override {
        if (finish(code)) m_forced = true;
    }
    const std::atomic<bool>& forced() const { return m_forced; }

    // True when this call ended the thread; the first end, natural or forced, keeps its code.
    bool finish(uint32_t code) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_done) return false;
        m_done = true;
        m_code = code;
        m_ended.notify_all();
        return true;
    }

private:
    const ThreadId m_id;
    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_done = false;
    uint32_t m_code = 0;
    std::atomic<bool> m_forced{false};
};

}  // namespace

ThreadId currentThreadId() {
    if (myId == 0) myId = nextId++;
    return myId;
}

bool currentThreadStopped() { return myStopFlag && myStopFlag->load(); }

std::shared_ptr<Thread> startThread(std::function<uint32_t()> body) {
    if (!body) return nullptr;
    try {
        auto thread = std::make_shared<PosixThread>(nextId++);
        std::thread([thread, body = std::move(body)] {
            myId = thread->id();
            myStopFlag = &thread->forced();
            uint32_t code = body();
            discardThreadQueue(myId);
            thread->finish(code);
        }).detach();
        return thread;
    } catch (const std::exception&) {  // no thread could be started
        return nullptr;
    }
}

void exitProcessNow(int code) {
    fflush(nullptr);
    _exit(code);
}

}  // namespace plat
