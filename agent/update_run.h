// The wiring of a background run: what the worker threads hand over to, and the order in
// which the subsystems take their turns. The decision answers with a verdict, the package
// stage with the next step, and this layer decides what runs next.
#pragma once
#include <cstdint>
#include <string>

namespace agent {

// Normal update thread, first of all: a module swap that a crash cut short is undone, so
// the installation is whole whatever the run goes on to do.
void restoreInterruptedModuleSwap();
// Normal update thread, next: sends the player's pending crash reports.
void deliverCrashReports();
// Normal update thread, once its message queue exists: decides, then starts the package
// stage. Every end of the run posts UM_UPDATE_RUN_DONE to the normal update thread.
void startUpdateRun();
// Normal update thread: reacts to a message of its loop other than UM_UPDATE_RUN_DONE.
void dispatchRunMessage(uint32_t message);

// The module update with its guard: skipped while another updater's silent-update object
// exists, and holding that object itself while it runs.
void runModuleUpdateStage(const std::u16string& clientId);

}  // namespace agent
