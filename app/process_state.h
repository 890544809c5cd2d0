// Process-wide state shared by the entry point and the worker threads. Written by one
// side, read by the other, without locks (plain flags; atomics keep them well defined).
#pragma once
#include <atomic>
#include <memory>
#include "platform/thread.h"

struct ProcessState {
    std::atomic<bool> initiative{false};
    std::atomic<bool> clientConnected{false};
    // Kept by shared pointer so a thread stays stoppable while anyone may still stop it.
    std::shared_ptr<plat::Thread> normalThread;  // guarded: see normalThreadHandle()
    std::atomic<plat::ThreadId> normalThreadId{0};
    std::shared_ptr<plat::Thread> waitThread;
};

ProcessState& processState();
// Atomic access to the normal update thread handle (main writes, wait thread reads).
std::shared_ptr<plat::Thread> normalThreadHandle();
void setNormalThreadHandle(std::shared_ptr<plat::Thread> thread);

// Thread messages of the normal update thread.
constexpr unsigned UM_ENGINE_PACKAGE_DONE = 1125;
constexpr unsigned UM_ENGINE_DOWNLOAD_FAILED = 1126;
constexpr unsigned UM_ENGINE_TASK_STATUS = 1127;
constexpr unsigned UM_ENGINE_CALLBACK_READY = 1128;
constexpr unsigned UM_UPDATE_RUN_DONE = 1129;
