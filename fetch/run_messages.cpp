// Reports of the peer-to-peer engine reach the run as messages of the normal update thread.
#include "app/log.h"
#include "app/process_state.h"
#include "decision/update_driver.h"

void UpdateDriver::handleRunMessage(uint32_t message) {
    switch (message) {
        case UM_ENGINE_PACKAGE_DONE:
            finishUpdateRun(kRunDownloaded, true);
            break;
        case UM_ENGINE_DOWNLOAD_FAILED:
            fallBackToHttp();  // never the engine again: a failing engine would loop
            break;
        case UM_ENGINE_CALLBACK_READY:
            logCallbackReady();
            break;
        default:  // UM_ENGINE_TASK_STATUS and anything else: no effect
            break;
    }
}
