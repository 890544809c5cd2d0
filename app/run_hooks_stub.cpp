// Stand-ins for the update work until its subsystems provide it: the run ends at once,
// and the pipe is never served (the wait thread blocks until it is stopped).
#include <condition_variable>
#include <mutex>

#include "app/process_state.h"
#include "app/run_hooks.h"
#include "platform/thread_messages.h"

void deliverCrashReports() {}

void startUpdateRun() { plat::postThreadMessage(plat::currentThreadId(), UM_UPDATE_RUN_DONE); }

void dispatchRunMessage(uint32_t) {}

int serveOneConnection() {
    static std::mutex mutex;
    static std::condition_variable never;
    std::unique_lock<std::mutex> lock(mutex);
    never.wait(lock, [] { return false; });
    return 1;
}
