#include "app/background_digest.h"

#include <new>

namespace app {

namespace {

// Enough to keep the hashing busy while the writer waits on the network or the disk.
constexpr size_t kMaxQueuedBytes = 8u << 20;

}  // namespace

BackgroundDigest::~BackgroundDigest() { stopWorker(); }

bool BackgroundDigest::take(std::string& block) {
    if (m_failed) return false;
    if (block.empty()) return true;
    size_t size = block.size();
    if (!m_worker) m_worker = plat::startThread([this] { return run(); });
    if (!m_worker) {
        m_failed = true;
        return false;
    }
    try {
        std::unique_lock<std::mutex> lock(m_mutex);
        // The worker finishes every block it takes, so the wait ends; a block larger than
        // the bound is let in once the queue is empty.
        m_changed.wait(lock, [&] { return m_blocks.empty() || m_queuedBytes + size <= kMaxQueuedBytes; });
        m_blocks.push_back(std::move(block));
        m_queuedBytes += size;
        block = std::string();
        if (!m_spares.empty()) {
            block.swap(m_spares.back());
            m_spares.pop_back();
        }
        m_changed.notify_all();
    } catch (const std::bad_alloc&) {
        m_failed = true;
        return false;
    }
    m_bytes += size;
    return true;
}

StreamDigests BackgroundDigest::finish() {
    stopWorker();
    return m_pass.finish();
}

DigestPass BackgroundDigest::passSoFar() {
    stopWorker();
    return m_pass;
}

uint32_t BackgroundDigest::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return !m_blocks.empty() || m_closing; });
        if (m_blocks.empty()) return 0;  // closing, and everything is digested
        std::string block = std::move(m_blocks.front());
        m_blocks.pop_front();
        lock.unlock();
        m_pass.update(block.data(), block.size());
        lock.lock();
        m_queuedBytes -= block.size();
        block.clear();
        try {
            m_spares.push_back(std::move(block));
        } catch (const std::bad_alloc&) {
            // the writer then takes new memory for its next block
        }
        m_changed.notify_all();
    }
}

void BackgroundDigest::stopWorker() {
    if (!m_worker) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_worker->wait();
    m_worker.reset();
}

}  // namespace app
