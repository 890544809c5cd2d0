// The callback object registered with an engine task. The engine calls it on threads of
// its own, so it touches no state: each notification only posts a thread message to the
// thread that started the task (the normal update thread), where the run goes on.
#pragma once
#include "fetch/engine_interface.h"
#include "platform/thread.h"

namespace fetch {

// The engine's notifications, as thread messages to the thread that started its task.
constexpr unsigned UM_ENGINE_PACKAGE_DONE = 1125;
constexpr unsigned UM_ENGINE_DOWNLOAD_FAILED = 1126;
constexpr unsigned UM_ENGINE_TASK_STATUS = 1127;
constexpr unsigned UM_ENGINE_CALLBACK_READY = 1128;

class NimboDownloadCallBack final : public INimboDownloaderTaskCallBack {
public:
    explicit NimboDownloadCallBack(plat::ThreadId runThread) : m_runThread(runThread) {}
    void destroy() override;
    int32_t onPackageDone(int32_t done) override;
    int32_t onDownloadFailed(int32_t failed, int32_t code) override;
    int32_t onTaskStatus(int32_t changed, int32_t status, int32_t detail) override;
    int32_t onCallbackReady(int32_t ready) override;

private:
    int32_t postIf(int32_t happened, unsigned message) const;
    const plat::ThreadId m_runThread;
};

}  // namespace fetch
