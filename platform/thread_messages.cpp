// Thread message queues, one per thread that asked for one. The same on every host,
// so that a message posted before its target's queue exists is lost everywhere.
#include "platform/thread_messages.h"
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace plat {

namespace {

// Windows refuses posts beyond this many waiting messages.
constexpr size_t kQueueLimit = 10000;

struct Queue {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<ThreadMessage> messages;
};

std::mutex registryMutex;
std::map<ThreadId, std::shared_ptr<Queue>>& queues() {
    static auto* all =
        new std::map<ThreadId, std::shared_ptr<Queue>>;  // never destroyed: threads may outlive exit
    return *all;
}

std::shared_ptr<Queue> queueOf(ThreadId thread, bool create) {
    std::lock_guard<std::mutex> lock(registryMutex);
    auto& all = queues();
    auto it = all.find(thread);
    if (it != all.end()) return it->second;
    if (!create) return nullptr;
    auto queue = std::make_shared<Queue>();
    all[thread] = queue;
    return queue;
}

bool matches(const ThreadMessage& m, uint32_t first, uint32_t last) {
    return (first == 0 && last == 0) || (m.message >= first && m.message <= last);
}

}  // namespace

bool postThreadMessage(ThreadId thread, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    auto queue = queueOf(thread, false);
    if (!queue) return false;
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->messages.size() >= kQueueLimit) return false;
    queue->messages.push_back(ThreadMessage{message, wParam, lParam});
    queue->arrived.notify_one();
    return true;
}

bool getThreadMessage(ThreadMessage& out) {
    auto queue = queueOf(currentThreadId(), true);
    std::unique_lock<std::mutex> lock(queue->mutex);
    queue->arrived.wait(lock, [&] { return !queue->messages.empty(); });
    out = queue->messages.front();
    queue->messages.pop_front();
    return out.message != kWmQuit;
}

bool peekThreadMessage(ThreadMessage& out, uint32_t first, uint32_t last, bool remove) {
    auto queue = queueOf(currentThreadId(), true);
    std::lock_guard<std::mutex> lock(queue->mutex);
    for (auto it = queue->messages.begin(); it != queue->messages.end(); ++it) {
        if (!matches(*it, first, last)) continue;
        out = *it;
        if (remove) queue->messages.erase(it);
        return true;
    }
    return false;
}

void discardThreadQueue(ThreadId thread) {
    std::lock_guard<std::mutex> lock(registryMutex);
    queues().erase(thread);
}

}  // namespace plat
