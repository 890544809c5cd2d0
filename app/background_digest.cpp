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
        // The worker takes a block at a time and always finishes it, so the wait ends.
        m_changed.wait(lock, [&] { return m_queuedBytes == 0 || m_queuedBytes + size <= kMaxQueuedBytes; });
        // Small writes are gathered into larger blocks; a queued block is not being hashed.
        if (!m_blocks.empty() && m_blocks.back().size() + size <= kBlockBytes)
            m_blocks.back().append(static_cast<const char*>(data), size);
        else m_blocks.emplace_back(static_cast<const char*>(data), size);
        m_queuedBytes += size;
    } catch (const std::bad_alloc&) {
        m_failed = true;
    } catch (const std::system_error&) {
        m_failed = true;
    }
    if (m_failed) return false;
    m_bytes += size;
    m_changed.notify_all();
    return true;
}

FileDigests BackgroundDigest::finish() {
    stopWorker();
    return m_pass.finish();
}

void BackgroundDigest::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_closing || !m_blocks.empty(); });
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
