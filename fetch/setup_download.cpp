#include "fetch/setup_download.h"

#include "app/log.h"
#include "fetch/transfer.h"

namespace fetch {

namespace {

int storeProgress(void*, double downloadTotal, double downloaded, double, double) {
    setupDownload().progressTotal = downloadTotal;
    setupDownload().progressNow = downloaded;
    return 0;
}

}  // namespace

SetupDownloadState& setupDownload() {
    static SetupDownloadState state;
    return state;
}

uint32_t setupDownloadWorker() {
    SetupDownloadState& state = setupDownload();
    if (state.url.empty() || state.savePath.empty()) {
        state.running = false;
        return 0;
    }
    TransferRequest request;
    request.url = state.url;
    request.saveToFile = true;
    request.savePath = state.savePath;
    bool ok = performTransfer(request, storeProgress).ok();
    state.result = ok;
    state.running = false;
    LOG(u"curl download%s", ok ? u"success" : u"failed");
    return 0;
}

}  // namespace fetch
