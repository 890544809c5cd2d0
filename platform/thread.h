// Threads with exit codes. A forced stop never cancels or kills the thread in place: the
// stopper records the exit code and releases every waiter, and the stopped thread is
// abandoned until the process ends (see exitProcessNow).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

namespace plat {

using ThreadId = uint32_t;
ThreadId currentThreadId();

class Thread {
public:
    virtual ~Thread() = default;
    virtual ThreadId id() const = 0;
    // Blocks until the thread ends by itself or is stopped.
    virtual void wait() = 0;
    // Waits at most ms milliseconds; true when the thread has ended or was stopped.
    virtual bool waitFor(uint32_t ms) = 0;
    // False while the thread runs.
    virtual bool exitCode(uint32_t& code) const = 0;
    // Forced stop: no effect when the thread has already ended.
    virtual void stop(uint32_t code) = 0;
};

// True on a thread that another thread has stopped: an abandoned thread runs on until the
// process ends, but writes nothing more (a terminated thread would not).
bool currentThreadStopped();

// Starts body on a new thread with the default stack. Null when it cannot be started.
std::shared_ptr<Thread> startThread(std::function<uint32_t()> body);

// Ends the process at once, running no static destructors or exit handlers, so that
// nothing an abandoned thread may still use (logger library, libcurl) is torn down.
[[noreturn]] void exitProcessNow(int code);

}  // namespace plat
