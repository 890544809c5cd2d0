// The end of the installer part of a run. A verified package is installed or recorded; a
// run without one goes on to the module update. Every path releases the engine and tells
// the normal update thread that the run is over, except a package from the engine that
// fails its digest: that one is fetched once more over HTTP, which ends here again.
#include "app/log.h"
#include "app/process_state.h"
#include "decision/update_driver.h"
#include "modules/module_updater.h"
#include "platform/named_mutex.h"
#include "platform/thread_messages.h"

namespace {

// Other updaters on this machine skip their own silent download while this object exists.
constexpr char16_t kSilentUpdateObject[] = u"AEE5851B-96A7-4F3A-8C04-D2CAE21C8003";

void endRun() { plat::postThreadMessage(processState().normalThreadId, UM_UPDATE_RUN_DONE); }

// The line of a run that ends without a package; null for the other statuses.
const char16_t* noPackageLine(int status) {
    switch (status) {
        case kRunNoDocument: return u"xml下载失败，结束程序!";
        case kRunNoUpdate: return u"解析xml失败或者不满足升级条件";
        case kRunDownloadFailed: return u"升级包下载失败，结束程序!";
        default: return nullptr;
    }
}

}  // namespace

void UpdateDriver::finishUpdateRun(int status, bool fromEngine) {
    m_runStatus = status;
    LOG(u"下载安装包完成 下载状态是：%d", status);
    if (const char16_t* line = noPackageLine(status)) {
        LOG(line);
        releaseEngine();
        runModuleUpdateStage();
        return;
    }
    if (status == kRunPackagePresent || status == kRunDownloaded) {
        if (packageDigestCheck()) {
            installVerifiedPackage();
        } else {
            LOG(u"check md5 fail");
            if (fromEngine) {
                LOG(u"prism返回成功但md5校验失败，重新开始http下载");
                releaseEngine();
                downloadPackageOverHttp();  // ends in finishUpdateRun again
                return;
            }
            // Otherwise the bad file stays; the next run checks it again.
        }
    }
    releaseEngine();
    endRun();
}

void UpdateDriver::runModuleUpdateStage() {
    if (plat::MutexHandle other = plat::openNamedMutex(kSilentUpdateObject)) {
        LOG(u"老版本静默升级下载文件内核对象存在，不走Ovupdate.exe静默流程");
        plat::closeMutex(other);
        endRun();
        return;
    }
    plat::MutexHandle silent = plat::createNamedMutex(kSilentUpdateObject, false, true);
    if (!silent) {
        endRun();
        return;
    }
    LOG(u"创建静默下载内核对象成功，防止老版本后续再去下载");
    ModuleUpdater updater;
    updater.setLogging(diag::loggingOn());
    bool updated = updater.RunModuleUpdate(m_clientId);
    LOG(updated ? u"静默升级完成" : u"无需静默下载或静默失败");
    plat::closeMutex(silent);
    endRun();
}
