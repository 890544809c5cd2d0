// Flushes a file that is being written, on a thread of its own, each time another stretch
// of it has been written. The flush that must come before a large download takes its name
// then waits only for the last stretch, instead of for the whole file reaching the disk
// after the last byte arrived.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/files.h"
#include "platform/thread.h"

class WriteBehind {
public:
    // flushed: bytes at the file's start already on the disk (a file written on after them).
    explicit WriteBehind(plat::File& file, uint64_t flushed = 0)
        : m_file(file), m_written(flushed), m_flushed(flushed) {}
    ~WriteBehind() { stop(); }
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Notes that the file now holds `total` bytes written; starts a flush when a stretch
    // has gathered and none is running. Never waits for the disk.
    void written(uint64_t total);
    // How many bytes from the file's start are known to be on the disk.
    uint64_t flushed();
    // Waits for a running flush; no other starts after it.
    void stop();

private:
    uint32_t run();

    plat::File& m_file;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    uint64_t m_written;
    uint64_t m_flushed;
    bool m_stopping = false;
    bool m_failed = false;
    std::shared_ptr<plat::Thread> m_worker;
};
