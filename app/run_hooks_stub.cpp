// Stand-ins for the update work until its subsystems provide it: the run ends at once.
// The pipe is served by the channel.
#include "app/process_state.h"
#include "app/run_hooks.h"
#include "channel/pipe_server.h"
#include "platform/thread_messages.h"

void deliverCrashReports() {}

void startUpdateRun() { plat::postThreadMessage(plat::currentThreadId(), UM_UPDATE_RUN_DONE); }

void dispatchRunMessage(uint32_t) {}

int serveOneConnection() { return static_cast<int>(channel::serveOneConnection()); }
