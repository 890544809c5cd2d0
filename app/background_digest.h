// Digests a stream of bytes on a thread of its own, so that hashing a large body overlaps
// receiving and writing it instead of adding to them. The bytes wait in a bounded queue;
// a writer that finds it full waits for the hashing to catch up.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "app/file_digest.h"

class BackgroundDigest {
public:
    BackgroundDigest() = default;
    ~BackgroundDigest();
    BackgroundDigest(const BackgroundDigest&) = delete;
    BackgroundDigest& operator=(const BackgroundDigest&) = delete;

    // False, now and for every later call, when the thread cannot be started or the bytes
    // cannot be queued; bytes() then stops short of what was written.
    bool update(const void* data, size_t size);
    uint64_t bytes() const { return m_bytes; }
    // Waits until every byte queued so far is digested.
    StreamDigests finish();

private:
    void run();
    void stopWorker();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_blocks;
    size_t m_queuedBytes = 0;
    bool m_closing = false;
    bool m_failed = false;
    uint64_t m_bytes = 0;
    DigestPass m_pass;
    std::thread m_worker;
};
