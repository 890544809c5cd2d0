// The end of the installer part of a run. A verified package is installed or recorded; a
// run without one goes on to the module update. Every path releases the engine.
#include "app/log.h"
#include "fetch/install_package.h"
#include "fetch/partial_file.h"
#include "fetch/package_run.h"
#include "platform/files.h"

namespace fetch {
namespace {

// The line of a run that ends without a package; null for the other statuses.
const char16_t* noPackageLine(RunStatus status) {
    switch (status) {
        case RunStatus::NoDocument: return u"xml下载失败，结束程序!";
        case RunStatus::NoUpdate: return u"解析xml失败或者不满足升级条件";
        case RunStatus::DownloadFailed: return u"升级包下载失败，结束程序!";
        default: return nullptr;
    }
}

}  // namespace

NextStep PackageRun::finish(RunStatus status, Source source) {
    m_lastStatus = static_cast<int>(status);
    LOG(u"下载安装包完成 下载状态是：%d", m_lastStatus);
    if (const char16_t* line = noPackageLine(status)) {
        LOG(line);
        m_engine.release();
        return NextStep::ModuleStage;
    }
    if (status == RunStatus::PackagePresent || status == RunStatus::Downloaded) {
        // The package is whole on disk: its partial has served (or never will).
        discardPartial(m_job.savePath());
        // Held from the check until the package has started, so it is the checked bytes
        // that start.
        if (auto held = openVerifiedPackage(m_job.savePath(), m_job.package.md5, m_job.package.sha256)) {
            installVerifiedPackage(m_job.package, m_job.savePath());
        } else {
            LOG(u"check md5 fail");
            if (source == Source::Engine) {
                LOG(u"prism返回成功但md5校验失败，重新开始http下载");
                m_engine.release();
                return downloadOverHttp();
            }
            // Nothing under the package's name may pass for it later.
            plat::deleteFile(m_job.savePath());
        }
    }
    m_engine.release();
    return NextStep::EndRun;
}

}  // namespace fetch
