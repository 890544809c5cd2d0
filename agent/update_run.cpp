#include "agent/update_run.h"

#include "app/client_id.h"
#include "app/deploy_settings.h"
#include "app/log.h"
#include "agent/process_state.h"
#include "decision/update_driver.h"
#include "fetch/crash_report.h"
#include "fetch/package_run.h"
#include "modules/module_updater.h"
#include "platform/named_mutex.h"
#include "platform/network_cost.h"
#include "platform/thread_messages.h"

using modules::ModuleUpdater;

namespace agent {
namespace {

// Other updaters on this machine skip their own silent download while this object exists.
constexpr char16_t kSilentUpdateObject[] = u"AEE5851B-96A7-4F3A-8C04-D2CAE21C8003";

// The run's state on the normal update thread; it outlives every thread that uses it.
struct BackgroundRun {
    std::u16string clientId;  // looked up once, again only while empty
    fetch::PackageRun package;
    bool costlyLink = false;  // metered or roaming: the module update stays out of the run
};

BackgroundRun& backgroundRun() {
    static BackgroundRun* run = new BackgroundRun;
    return *run;
}

// Nobody asked for a background run's downloads, so on a link the user pays for by the
// byte it downloads only a package its document calls critical: any other package waits
// for a run on another link, the module update as well. Returns the verdict to go on with.
fetch::Verdict onCostlyLink(fetch::Verdict verdict, const fetch::Package& package, bool& costly) {
    plat::NetworkCost cost = plat::networkCost();
    costly = cost != plat::NetworkCost::Unrestricted;
    if (!costly) return verdict;
    const char16_t* kind = cost == plat::NetworkCost::Roaming ? u"roaming" : u"metered";
    if (verdict == fetch::Verdict::Download && package.critical) {
        LOG(u"%s network connection: critical update %s downloads all the same", kind, package.name);
        return verdict;
    }
    LOG(u"%s network connection: this background run downloads nothing", kind);
    return verdict == fetch::Verdict::Download ? fetch::Verdict::NoUpdate : verdict;
}

void endRun() { plat::postThreadMessage(processState().normalThreadId, UM_UPDATE_RUN_DONE); }

void follow(fetch::NextStep step) {
    switch (step) {
        case fetch::NextStep::Wait: return;
        case fetch::NextStep::ModuleStage:
            if (!backgroundRun().costlyLink) runModuleUpdateStage(backgroundRun().clientId);
            break;
        case fetch::NextStep::EndRun: break;
    }
    endRun();
}

}  // namespace

void restoreInterruptedModuleSwap() {
    ModuleUpdater updater;
    updater.setLogging(app::diag::loggingOn());
    updater.RestoreInterruptedSwap();
}

void deliverCrashReports() {
    BackgroundRun& run = backgroundRun();
    fetch::deliverCrashReports(app::clientIdentifier(run.clientId), app::deploy::servers().report);
}

void startUpdateRun() {
    BackgroundRun& run = backgroundRun();
    fetch::Verdict verdict;
    fetch::PackageJob job;
    {
        // The driver, its document and records are gone before the package stage begins.
        decision::UpdateDriver driver;
        decision::RunDecision decision = driver.decide(run.clientId);
        verdict = decision.verdict;
        job = std::move(decision.job);
    }
    verdict = onCostlyLink(verdict, job.package, run.costlyLink);
    follow(run.package.start(verdict, std::move(job)));
}

void dispatchRunMessage(uint32_t message) { follow(backgroundRun().package.handleMessage(message)); }

void runModuleUpdateStage(const std::u16string& clientId) {
    bool existed = static_cast<bool>(plat::UniqueMutex{plat::openNamedMutex(kSilentUpdateObject)});
    plat::UniqueMutex silent;
    if (!existed) silent.reset(plat::createNamedMutex(kSilentUpdateObject, false, true, &existed));
    if (existed) {
        LOG(u"老版本静默升级下载文件内核对象存在，不走Ovupdate.exe静默流程");
        return;
    }
    if (!silent) return;
    LOG(u"创建静默下载内核对象成功，防止老版本后续再去下载");
    ModuleUpdater updater;
    updater.setLogging(app::diag::loggingOn());
    bool updated = updater.RunModuleUpdate(clientId);
    LOG(updated ? u"静默升级完成" : u"无需静默下载或静默失败");
}

}  // namespace agent
