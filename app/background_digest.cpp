#include "app/background_digest.h"

#include <new>
#include <system_error>

namespace {

// Enough to keep the hashing busy while the writer waits on the network or the disk.
constexpr size_t kMaxQueuedBytes = 8u << 20;
constexpr size_t kBlockBytes = 256u << 10;

}  // namespace

BackgroundDigest::~BackgroundDigest() { stopWorker(); }

bool BackgroundDigest::update(const void* data, size_t size) {
    if (m_failed) return false;
    if (size == 0) return true;
    try {
        if (!m_worker.joinable()) m_worker = std::thread([this] { run(); });
        std::unique_lock<std::mutex> lock(m_mutex);
        // The worker finishes every complete block it takes, so the wait ends; with only
        // the block being filled left, one more write may go past the bound.
        m_changed.wait(lock, [&] { return m_blocks.size() <= 1 || m_queuedBytes + size <= kMaxQueuedBytes; });
        m_queuedBytes += size;
        // Writes are gathered into blocks; all but the last block are complete, and the
        // worker is woken once per block rather than once per write.
        if (!m_blocks.empty() && m_blocks.back().size() + size <= kBlockBytes) {
            m_blocks.back().append(static_cast<const char*>(data), size);
        } else {
            m_blocks.emplace_back(static_cast<const char*>(data), size);
            if (m_blocks.size() > 1) m_changed.notify_all();
        }
    } catch (const std::bad_alloc&) {
        m_failed = true;
    } catch (const std::system_error&) {
        m_failed = true;
    }
    if (m_failed) return false;
    m_bytes += size;
    return true;
}

StreamDigests BackgroundDigest::finish() {
    stopWorker();
    return m_pass.finish();
}

void BackgroundDigest::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_blocks.size() > 1 || m_closing; });
        if (m_blocks.empty()) return;  // closing, and everything is digested
        std::string block = std::move(m_blocks.front());
        m_blocks.pop_front();
        lock.unlock();
        m_pass.update(block.data(), block.size());
        lock.lock();
        m_queuedBytes -= block.size();
        m_changed.notify_all();
    }
}

void BackgroundDigest::stopWorker() {
    if (!m_worker.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_worker.join();
}
