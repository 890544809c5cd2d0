// The agent's process-wide state: its mode, its threads and their ids, and whether a player
// is connected. Written by one side, read by the other, without locks (plain flags; atomics
// keep them well defined). The layers below get what they need of it as arguments.
#pragma once
#include <atomic>
#include <memory>
#include "platform/thread.h"

namespace agent {

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

// The end of the run, posted to the normal update thread, whose loop it ends. The engine's
// notifications (1125 to 1128) are the package stage's own (fetch/engine_callback.h).
constexpr unsigned UM_UPDATE_RUN_DONE = 1129;

}  // namespace agent
