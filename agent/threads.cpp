#include "agent/threads.h"

#include "agent/update_run.h"

#include "app/internet_cafe.h"
#include "app/log.h"
#include "agent/process_state.h"
#include "channel/pipe_server.h"
#include "platform/thread_messages.h"

namespace agent {
namespace {
constexpr uint32_t kStoppedNormalExitCode = 1;
constexpr uint32_t kStoppedWaitExitCode = 0;
}  // namespace

uint32_t normalUpdateThreadProc() {
    // Set here as well as by the starter, so that a run ending at once already has its
    // address.
    processState().normalThreadId = plat::currentThreadId();
    LOG(u"正常升级线程开始");
    restoreInterruptedModuleSwap();
    deliverCrashReports();
    if (app::isInternetCafeEdition()) {
        LOG(u"网吧版跳出被动和静默");
        LOG(u"正常升级线程结束");
        return 0;
    }
    // The queue must exist before the run starts: its outcomes arrive only as messages.
    plat::ThreadMessage message;
    plat::peekThreadMessage(message, plat::kWmUser, plat::kWmUser, false);
    startUpdateRun();
    runMessageLoop();
    LOG(u"正常升级线程结束");
    return 0;
}

void runMessageLoop() {
    for (;;) {
        plat::ThreadMessage message;
        // A false return (WM_QUIT) is just another message here.
        plat::getThreadMessage(message);
        if (message.message == UM_UPDATE_RUN_DONE) return;
        dispatchRunMessage(message.message);
    }
}

uint32_t waitThreadProc() {
    ProcessState& state = processState();
    return runWaitThread([&state] {
        channel::ChannelContext context;
        context.initiative = state.initiative;
        context.clientConnected = &state.clientConnected;
        return channel::serveOneConnection(context);
    });
}

uint32_t runWaitThread(const std::function<uint32_t()>& serve) {
    LOG(u"等待线程开始");
    if (!processState().initiative) {
        // A player that closed only its window may come back while the update goes on.
        while (normalThreadHandle()) {
            if (serve() != channel::kWindowClosed) break;
            LOG(u"非主动升级启动，并且主动升级请求后关闭，此时重新开始等待线程");
        }
    } else {
        serve();
        LOG(u"主动升级启动，并且主动升级请求后关闭");
    }
    if (std::shared_ptr<plat::Thread> normal = normalThreadHandle()) {
        LOG(u"终止正常线程");
        app::diag::stopThread(*normal, kStoppedNormalExitCode);
    }
    LOG(u"等待线程结束");
    return 0;
}

bool awaitBackgroundRun() {
    ProcessState& state = processState();
    std::shared_ptr<plat::Thread> normal = normalThreadHandle();
    normal->wait();
    uint32_t code = 0;
    if (normal->exitCode(code) && code != 0) {
        LOG(u"正常进程启动，主动升级先完成升级，强制正常线程退出");
        setNormalThreadHandle(nullptr);
        return true;
    }
    setNormalThreadHandle(nullptr);
    if (state.clientConnected) {
        LOG(u"主动升级通信中，等待通信");
        state.waitThread->wait();
        return false;
    }
    LOG(u"正常升级完成，且等待线程无链接，强制退出等待线程");
    app::diag::stopThread(*state.waitThread, kStoppedWaitExitCode);
    return true;
}

}  // namespace agent
