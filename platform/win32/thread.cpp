// Threads started through the C runtime (_beginthreadex), so the runtime's per-thread
// data is set up for the body. A forced stop releases the waiters with the given exit
// code and abandons the thread; nothing is cancelled in place.
#include <windows.h>

#include <process.h>

#include <atomic>
#include <mutex>

#include "platform/thread.h"
#include "platform/thread_messages.h"

namespace plat {

ThreadId currentThreadId() { return GetCurrentThreadId(); }

namespace {

thread_local const std::atomic<bool>* myStopFlag = nullptr;

unsigned __stdcall threadEntry(void* argument) {
    std::unique_ptr<std::function<uint32_t()>> body(static_cast<std::function<uint32_t()>*>(argument));
    uint32_t code = (*body)();
    // As on Windows, a thread's message queue ends with it; its id may soon be reused.
    discardThreadQueue(GetCurrentThreadId());
    return code;
}

class Win32Thread : public Thread {
public:
    Win32Thread(HANDLE handle, ThreadId id, HANDLE stopEvent, std::shared_ptr<std::atomic<bool>> forced)
        : m_handle(handle), m_id(id), m_stopEvent(stopEvent), m_forced(std::move(forced)) {}
    ~Win32Thread() override {
        CloseHandle(m_handle);
        CloseHandle(m_stopEvent);
    }

    ThreadId id() const override { return m_id; }

    void wait() override { waitFor(INFINITE); }

    bool waitFor(uint32_t ms) override {
        HANDLE handles[2] = {m_handle, m_stopEvent};
        return WaitForMultipleObjects(2, handles, FALSE, ms) != WAIT_TIMEOUT;
    }

    bool exitCode(uint32_t& code) const override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped) {
            code = m_stopCode;
            return true;
        }
        if (WaitForSingleObject(m_handle, 0) != WAIT_OBJECT_0) return false;
        DWORD value = 0;
        if (!GetExitCodeThread(m_handle, &value)) return false;
        code = value;
        return true;
    }

    void stop(uint32_t code) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped || WaitForSingleObject(m_handle, 0) == WAIT_OBJECT_0) return;
        m_stopCode = code;
        m_stopped = true;
        *m_forced = true;
        SetEvent(m_stopEvent);
    }

private:
    HANDLE m_handle;
    ThreadId m_id;
    HANDLE m_stopEvent;
    mutable std::mutex m_mutex;
    bool m_stopped = false;
    uint32_t m_stopCode = 0;
    std::shared_ptr<std::atomic<bool>> m_forced;
};

}  // namespace

bool currentThreadStopped() { return myStopFlag && myStopFlag->load(); }

std::shared_ptr<Thread> startThread(std::function<uint32_t()> body) {
    auto forced = std::make_shared<std::atomic<bool>>(false);
    body = [forced, body = std::move(body)] {
        myStopFlag = forced.get();
        return body();
    };
    HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!stopEvent) return nullptr;
    auto* argument = new std::function<uint32_t()>(std::move(body));
    unsigned id = 0;
    auto handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, threadEntry, argument, 0, &id));
    if (!handle) {
        delete argument;
        CloseHandle(stopEvent);
        return nullptr;
    }
    return std::make_shared<Win32Thread>(handle, id, stopEvent, forced);
}

void exitProcessNow(int code) {
    // TerminateProcess rather than ExitProcess: no DLL detach and no exit handlers, so
    // an abandoned thread never sees its libraries torn down.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    ExitProcess(static_cast<UINT>(code));
}

}  // namespace plat
