#include "fetch/engine_callback.h"

#include "platform/thread_messages.h"

namespace fetch {

// A zero first argument means the event did not happen: nothing is posted.
int32_t NimboDownloadCallBack::postIf(int32_t happened, unsigned message) const {
    if (happened == 0) return 0;
    return plat::postThreadMessage(m_runThread, message) ? 1 : 0;
}

void NimboDownloadCallBack::destroy() { delete this; }

int32_t NimboDownloadCallBack::onPackageDone(int32_t done) { return postIf(done, UM_ENGINE_PACKAGE_DONE); }

int32_t NimboDownloadCallBack::onDownloadFailed(int32_t failed, int32_t) {
    return postIf(failed, UM_ENGINE_DOWNLOAD_FAILED);
}

int32_t NimboDownloadCallBack::onTaskStatus(int32_t changed, int32_t, int32_t) {
    return postIf(changed, UM_ENGINE_TASK_STATUS);
}

int32_t NimboDownloadCallBack::onCallbackReady(int32_t ready) { return postIf(ready, UM_ENGINE_CALLBACK_READY); }

}  // namespace fetch
