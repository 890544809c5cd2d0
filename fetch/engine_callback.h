// The callback object registered with an engine task. The engine calls it on threads of
// its own, so it touches no state: each notification only posts a thread message to the
// normal update thread, where the run goes on.
#pragma once
#include "fetch/engine_interface.h"

namespace fetch {

class NimboDownloadCallBack final : public INimboDownloaderTaskCallBack {
public:
    void destroy() override;
    int32_t onPackageDone(int32_t done) override;
    int32_t onDownloadFailed(int32_t failed, int32_t code) override;
    int32_t onTaskStatus(int32_t changed, int32_t status, int32_t detail) override;
    int32_t onCallbackReady(int32_t ready) override;
};

}  // namespace fetch
