// Digests a stream of bytes on a thread of its own, so that hashing a large body overlaps
// receiving and writing it instead of adding to them. The writer hands over whole blocks,
// which wait in a bounded queue (a writer that finds it full waits for the hashing to
// catch up) and come back emptied for the writer to fill again, so no byte is copied and
// no memory is taken afresh per block.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "app/streamed_digest.h"
#include "platform/thread.h"

namespace app {

class BackgroundDigest {
public:
    explicit BackgroundDigest(bool withSha256 = false) : m_pass(withSha256) {}
    // Continues a pass over the bytes that come before (a download resumed after them).
    explicit BackgroundDigest(const DigestPass& before) : m_bytes(before.bytes()), m_pass(before) {}
    ~BackgroundDigest();
    BackgroundDigest(const BackgroundDigest&) = delete;
    BackgroundDigest& operator=(const BackgroundDigest&) = delete;

    // Queues the block's bytes and leaves `block` empty, holding a used block's memory
    // where there is one. False, now and for every later call, when the thread cannot be
    // started or the block cannot be queued; bytes() then stops short of what was written.
    bool take(std::string& block);
    uint64_t bytes() const { return m_bytes; }
    // Waits until every byte queued so far is digested.
    StreamDigests finish();
    // Waits the same way and hands over the pass unfinished, for a later stream to continue.
    DigestPass passSoFar();

private:
    uint32_t run();
    void stopWorker();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_blocks;
    std::vector<std::string> m_spares;  // digested blocks, emptied, for take() to hand back
    size_t m_queuedBytes = 0;
    bool m_closing = false;
    bool m_failed = false;
    uint64_t m_bytes = 0;
    DigestPass m_pass;
    std::shared_ptr<plat::Thread> m_worker;
};

}  // namespace app
