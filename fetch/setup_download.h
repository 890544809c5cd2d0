// The download the player starts over the pipe ("downloadsetup"): one worker thread fetches
// the offered package to its save path while the pipe connection thread polls the state.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

namespace fetch {

struct SetupDownloadState {
    // Filled by the request handler from the offer before it starts a worker.
    std::u16string url;
    std::u16string savePath;
    // Set by the starter before the worker can run, cleared by the worker on every exit.
    std::atomic<bool> running{false};
    // Result of the last download; not reset when a new one starts.
    std::atomic<bool> result{false};
    // Byte counts of the running or last download, total first; never reset.
    std::atomic<double> progressTotal{0};
    std::atomic<double> progressNow{0};
};

// The process-wide state the worker and the request handler share.
SetupDownloadState& setupDownload();

// Thread body of the worker: downloads setupDownload().url to its save path.
uint32_t setupDownloadWorker();

}  // namespace fetch
