// The update work the worker threads hand over to: each function has one caller in
// app/threads.cpp and is provided by the subsystem that does the work.
#pragma once
#include <cstdint>

// Normal update thread, before anything else: sends the player's pending crash reports.
void deliverCrashReports();
// Normal update thread, once its message queue exists: starts the update run. Every end
// of the run posts UM_UPDATE_RUN_DONE to the normal update thread.
void startUpdateRun();
// Normal update thread: reacts to a message of its loop other than UM_UPDATE_RUN_DONE.
void dispatchRunMessage(uint32_t message);
// Wait thread: serves one pipe connection. 0 when the pipe or its connection thread cannot
// be created, 1 when the connection ended, 2 when it ended with "closewindow" while the
// agent runs in background mode.
int serveOneConnection();
