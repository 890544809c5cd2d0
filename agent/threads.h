// The worker threads of the agent and the main thread's side of their ending.
#pragma once
#include <functional>
#include <cstdint>

namespace agent {

// Normal update thread (background mode): crash reports, the internet-cafe check, the
// update run and its message loop. Returns 0; an exit code of 1 means it was stopped.
uint32_t normalUpdateThreadProc();
// Takes this thread's messages until UM_UPDATE_RUN_DONE; nothing else ends it, WM_QUIT
// included.
void runMessageLoop();

// Wait thread: serves pipe connections, then stops the normal update thread if it still
// runs. Returns 0.
uint32_t waitThreadProc();
// The same with the connection server passed in.
uint32_t runWaitThread(const std::function<uint32_t()>& serve);

// Main thread, background mode: waits for the normal update thread, then waits for the
// wait thread while a player is connected, or else stops it. Returns true when a thread
// was stopped and may still be running.
bool awaitBackgroundRun();

}  // namespace agent
