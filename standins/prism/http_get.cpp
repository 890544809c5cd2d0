#include "standins/prism/http_get.h"

#include <curl/curl.h>

#include <memory>

#include "platform/files.h"

namespace prism {

namespace {

constexpr long kConnectTimeoutMs = 10000;
constexpr long kStallSeconds = 30;  // below one byte a second for this long: failure

struct Sink {
    std::unique_ptr<plat::File> file;
    bool failed = false;
};

size_t writeBody(char* data, size_t size, size_t count, void* context) {
    auto* sink = static_cast<Sink*>(context);
    if (!sink->file || !sink->file->write(data, size * count)) {
        sink->failed = true;
        return 0;
    }
    return size * count;
}

int watchCancel(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(context)->load() ? 1 : 0;
}

}  // namespace

long httpGet(const std::string& url, const std::u16string& savePath, const std::atomic<bool>& cancel) {
    std::u16string partPath = savePath + u".prism";
    Sink sink;
    sink.file = plat::openFile(partPath, plat::OpenMode::WriteTruncate);
    CURL* handle = curl_easy_init();
    if (!sink.file || !handle) {
        if (handle) curl_easy_cleanup(handle);
        sink.file.reset();
        plat::deleteFile(partPath);
        return -1;
    }
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, watchCancel);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(&cancel));
    CURLcode code = curl_easy_perform(handle);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(handle);
    bool whole = code == CURLE_OK && status == 200 && !sink.failed && sink.file->flush();
    sink.file.reset();
    if (whole && plat::moveFile(partPath, savePath, true)) return 0;
    plat::deleteFile(partPath);
    if (code != CURLE_OK) return -static_cast<long>(code);
    return status == 200 ? -1 : status;
}

}  // namespace prism
