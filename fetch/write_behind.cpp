#include "fetch/write_behind.h"

namespace {

constexpr uint64_t kStretchBytes = 32u << 20;

}  // namespace

void WriteBehind::written(uint64_t total) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_written = total;
    if (m_failed || m_stopping || total - m_flushed < kStretchBytes) return;
    if (!m_worker) m_worker = plat::startThread([this] { return run(); });
    if (!m_worker) {
        m_failed = true;  // the final flush then writes it all, as without this
        return;
    }
    m_wake.notify_one();
}

uint64_t WriteBehind::flushed() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_flushed;
}

void WriteBehind::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (!m_worker) return;
    m_worker->wait();
    m_worker.reset();
}

uint32_t WriteBehind::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stopping || m_written - m_flushed >= kStretchBytes; });
        if (m_stopping) return 0;
        uint64_t upTo = m_written;
        lock.unlock();
        // A failed flush here is only a lost head start: the flush before the rename
        // reports what matters.
        m_file.flush();
        lock.lock();
        m_flushed = upTo;
    }
}
