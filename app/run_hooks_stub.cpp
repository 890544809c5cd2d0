// The update work the threads hand over to: the update driver runs the background update,
// the channel serves the pipe.
#include "app/process_state.h"
#include "app/run_hooks.h"
#include "channel/pipe_server.h"
#include "decision/update_driver.h"
#include "platform/thread_messages.h"

void deliverCrashReports() { updateDriver().deliverCrashReports(); }

void startUpdateRun() { updateDriver().startUpdateRun(); }

void dispatchRunMessage(uint32_t message) { updateDriver().handleRunMessage(message); }

int serveOneConnection() { return static_cast<int>(channel::serveOneConnection()); }
