#include "modules/module_http.h"

#include <curl/curl.h>

#include <cctype>
#include <chrono>
#include <mutex>
#include "modules/module_url.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr char kUserAgentHeader[] = "User-Agent: Microsoft-ATL-Native/10.00";

// The body of an answer: in memory, or, when a file is given, streamed to it unless the
// answer is a redirect (whose body is nobody's business).
struct Sink {
    CURL* curl;
    std::string* body;
    uint64_t limit;
    plat::File* file;
    uint64_t bytes = 0;
    bool writeFailed = false;
};

// Ends a GET on which no byte has moved for the silence limit. libcurl calls it often
// while data flows and about once a second while the line is silent.
struct SilenceWatch {
    curl_off_t received = 0;
    std::chrono::steady_clock::time_point lastChange = std::chrono::steady_clock::now();
};

int watchSilence(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t) {
    auto* watch = static_cast<SilenceWatch*>(user);
    auto now = std::chrono::steady_clock::now();
    if (downloaded != watch->received) {
        watch->received = downloaded;
        watch->lastChange = now;
        return 0;
    }
    return now - watch->lastChange > std::chrono::milliseconds(moduleHttpLimits().timeoutMs) ? 1 : 0;
}

bool isHttps(const std::string& url) {
    static const char kScheme[] = "https://";
    if (url.size() < sizeof kScheme - 1) return false;
    for (size_t i = 0; i + 1 < sizeof kScheme; ++i)
        if (std::tolower(static_cast<unsigned char>(url[i])) != kScheme[i]) return false;
    return true;
}

bool isRedirect(long status) { return status == 301 || status == 302 || status == 303; }

size_t collect(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    size_t n = size * count;
    if (sink->bytes + n > sink->limit) return 0;  // ends the transfer with an error
    sink->bytes += n;
    long status = 0;
    curl_easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &status);
    if (!sink->file || isRedirect(status)) {
        sink->body->append(data, n);
        return n;
    }
    if (sink->file->write(data, n)) return n;
    sink->writeFailed = true;
    return 0;
}

std::string hostOf(const std::string& url) {
    std::string host;
    CURLU* parsed = curl_url();
    char* part = nullptr;
    if (parsed && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_HOST, &part, 0) == CURLUE_OK) {
        host = part;
    }
    curl_free(part);
    curl_url_cleanup(parsed);
    return host;
}

struct Answer {
    bool transferred = false;
    long status = 0;
    std::string body;
    std::string location;  // absolute, resolved against the request URL
    uint64_t bodyBytes = 0;
    bool writeFailed = false;
};

Answer requestOnce(const std::string& url, ModuleBody kind, plat::File* file) {
    Answer answer;
    std::string host = hostOf(url);
    CURL* curl = curl_easy_init();
    if (!curl || host.empty()) {
        if (curl) curl_easy_cleanup(curl);
        return answer;
    }
    const ModuleHttpLimits& limits = moduleHttpLimits();
    std::string hostHeader = "Host: " + host;
    curl_slist* headers = curl_slist_append(nullptr, hostHeader.c_str());
    headers = curl_slist_append(headers, kUserAgentHeader);
    headers = curl_slist_append(headers, "Accept:");  // drops libcurl's default Accept
    bool document = kind == ModuleBody::Document;
    Sink sink{curl, &answer.body, document ? limits.maxDocumentBytes : limits.maxBodyBytes, file};
    SilenceWatch watch;

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!limits.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, limits.caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.timeoutMs);
    // No byte moving for the time limit counts as a failed wait on the socket; a trickle
    // fails too, and a document has a bound on the whole.
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, watchSilence);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &watch);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedWindowSeconds);
    if (document) curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.documentTotalMs);
    // A declared length beyond the limit is refused before any byte of the body.
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(sink.limit));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);

    answer.transferred = curl_easy_perform(curl) == CURLE_OK;
    answer.bodyBytes = sink.bytes;
    answer.writeFailed = sink.writeFailed;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    char* location = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
        answer.location = location;
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return answer;
}

bool isSuccess(long status) { return (status >= 200 && status <= 206) || status == 304 || status == 305; }

}  // namespace

ModuleHttpLimits& moduleHttpLimits() {
    static ModuleHttpLimits limits;
    return limits;
}

ModuleHttpReply moduleHttpGet(const std::u16string& url, ModuleBody kind, plat::File* file) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });

    ModuleHttpReply reply;
    std::string next = modurl::escape(url);
    for (int hop = 0; hop <= moduleHttpLimits().maxRedirects; ++hop) {
        Answer answer = requestOnce(next, kind, file);
        reply.status = answer.status;
        reply.body = std::move(answer.body);
        reply.bodyBytes = answer.bodyBytes;
        reply.writeFailed = answer.writeFailed;
        if (!answer.transferred) return reply;
        if (isRedirect(answer.status) && !answer.location.empty()) {
            std::string location = modurl::escape(text::fromUtf8(answer.location));
            // Once on https, a redirect to plain http is refused.
            if (isHttps(next) && !isHttps(location)) return reply;
            next = std::move(location);
            continue;
        }
        reply.ok = isSuccess(answer.status);
        return reply;
    }
    return reply;  // too many redirects
}
