#include "fetch/setup_download.h"

#include "app/log.h"
#include "fetch/resumable_download.h"

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
    ResumableDownload download;
    download.url = state.url;
    download.target = state.savePath;
    bool ok = downloadResumable(download, storeProgress).ok();
    state.result = ok;
    state.running = false;
    LOG(u"curl download%s", ok ? u"success" : u"failed");
    return 0;
}

}  // namespace fetch
