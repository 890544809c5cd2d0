#include "agent/entry.h"

#include <atomic>

#include "agent/threads.h"

#include "app/crt_exception.h"
#include "app/host_probes.h"
#include "app/log.h"
#include "agent/process_state.h"
#include "app/settings.h"
#include "platform/clock.h"
#include "platform/library.h"
#include "platform/named_mutex.h"
#include "platform/thread.h"

namespace agent {

namespace {

constexpr char16_t kCrashReportLibrary[] = u"CrashReport.dll";
constexpr char16_t kSingleInstanceMutex[] = u"OvUpdate";
constexpr char16_t kInitiativeCommand[] = u"initiative";
constexpr uint32_t kSecondLookMs = 1000;

std::atomic<bool> g_abandoned{false};

plat::UniqueLibrary loadCrashReportLibrary() {
    std::u16string folder = app::playerFolderWithSlash();
    plat::setLibraryDirectory(folder);
    return plat::UniqueLibrary(plat::loadLibrary(folder + kCrashReportLibrary));
}

// An agent that is just ending gets one second to let go of the mutex.
bool anotherAgentRuns() {
    if (!plat::UniqueMutex(plat::openNamedMutex(kSingleInstanceMutex))) return false;
    plat::clock().sleepMs(kSecondLookMs);
    return static_cast<bool>(plat::UniqueMutex(plat::openNamedMutex(kSingleInstanceMutex)));
}

// Creates the agent's mutex. Agents started in the same instant all get past the look
// above; the one whose create finds the mutex already there gives way as well.
bool becomeTheOnlyAgent() {
    bool existed = false;
    // Never released: the system lets go of it when the process ends.
    plat::MutexHandle mine = plat::createNamedMutex(kSingleInstanceMutex, true, false, &existed);
    if (mine && existed) plat::closeMutex(mine);
    return mine && !existed;
}

// Starts the worker threads and waits for the end of the run by the exit rules.
void runWorkers(const std::u16string& commandLine) {
    ProcessState& state = processState();
    LOG(u"启动参数：%s", commandLine);
    if (commandLine == kInitiativeCommand) state.initiative = true;

    if (!state.initiative) {
        LOG(u"启动正常升级线程");
        std::shared_ptr<plat::Thread> normal = plat::startThread(normalUpdateThreadProc);
        if (!normal) {
            LOG(u"启动正常升级线程失败");
            return;
        }
        state.normalThreadId = normal->id();
        setNormalThreadHandle(normal);
    }
    state.waitThread = plat::startThread(waitThreadProc);
    if (!state.waitThread) {
        LOG(u"启动等待线程失败");
        // The normal update thread, if any, ends with the process.
        if (normalThreadHandle()) g_abandoned = true;
        return;
    }

    if (state.initiative) {
        state.waitThread->wait();
        LOG(u"主动升级进程启动完成并退出");
    } else if (awaitBackgroundRun()) {
        g_abandoned = true;
    }
    state.waitThread = nullptr;
}

}  // namespace

int wWinMain(const std::u16string& commandLine) {
    // First of all, whatever the logging flag will be: the logger library is loaded and
    // the log folder keeps today's log only.
    app::diag::loggerSetUp();
    plat::UniqueLibrary crashReport = loadCrashReportLibrary();
    {
        app::CCrtException runtimeErrorTrap;
        int printLog =
            app::settings::readInt(app::settings::kSectionTest, app::settings::kKeyPrintLog, 0, app::settings::kOvUpdateIni);
        app::diag::setLogging(printLog == 1);
        if (app::diag::loggingOn()) {
            app::diag::loggerStart();
            LOG(u"升级程序OvUpdate.exe启动，读取 printlog = %d", printLog);
        }

        if (anotherAgentRuns() || !becomeTheOnlyAgent()) {
            LOG(u"已经有Ovupdate.exe存在");
        } else {
            runWorkers(commandLine);
        }

        if (app::diag::loggingOn()) {
            LOG(u"升级程序OvUpdate.exe退出");
            app::diag::loggerStop();
        }
    }
    crashReport.reset();
    if (g_abandoned) plat::exitProcessNow(0);
    return 0;
}

}  // namespace agent
