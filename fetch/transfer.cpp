#include "fetch/transfer.h"

#include <curl/curl.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string_view>
#include <vector>

#include "app/background_digest.h"
#include "app/log.h"
#include "app/streamed_digest.h"
#include "fetch/partial_file.h"
#include "fetch/proxy_setup.h"
#include "fetch/url_text.h"
#include "fetch/write_behind.h"
#include "platform/files.h"
#include "text/format.h"
#include "platform/system.h"
#include "text/text.h"

namespace fetch {

namespace {

const char* const kFixedHeaders[] = {
    "Pragma: no-cache", "Cache-Control: no-cache", "Connection: close", "Accept: */*",
    "Expect:",  // no 100-continue handshake before a form upload
};
constexpr char kModuleUserAgent[] = "User-Agent: Microsoft-ATL-Native/10.00";
constexpr char kBinaryPartName[] = "optional";
constexpr char kBinaryPartType[] = "application/octet-stream";
constexpr long kReceiveBufferBytes = 256 * 1024;
// libcurl hands a body over in pieces of at most 16 KiB; the file is written, and the
// digest fed, in blocks of this size gathered from them.
constexpr size_t kFileBlockBytes = 256 * 1024;

std::atomic<unsigned> g_tempCounter{0};

// The temporary files of this process's running downloads (lower case).
std::mutex g_openPartsLock;
std::set<std::u16string> g_openParts;

void notePartFile(const std::u16string& path, bool open) {
    std::lock_guard<std::mutex> lock(g_openPartsLock);
    if (open) g_openParts.insert(text::toLower(path));
    else g_openParts.erase(text::toLower(path));
}

bool isOpenPartFile(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(g_openPartsLock);
    return g_openParts.count(text::toLower(path)) != 0;
}

// The handle and what hangs off it for one transfer; released on every exit.
struct TransferContext {
    CURL* handle = nullptr;
    curl_slist* headers = nullptr;
    curl_mime* form = nullptr;

    ~TransferContext() {
        if (handle) curl_easy_cleanup(handle);
        curl_slist_free_all(headers);
        curl_mime_free(form);
    }
};

// "<name>.<number>.part": a temporary download file of this agent.
bool isPartFileName(const std::u16string& name) {
    static constexpr std::u16string_view kSuffix = u".part";
    if (name.size() <= kSuffix.size() || name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
        return false;
    size_t end = name.size() - kSuffix.size(), start = end;
    while (start > 0 && name[start - 1] >= u'0' && name[start - 1] <= u'9') --start;
    return start < end && start > 1 && name[start - 1] == u'.';
}

// Temporary files of downloads cut short (the process ended mid-transfer) would stay for
// ever when the next download has another name. Downloads in this process that are still
// running keep theirs.
void removeStalePartFiles(const std::u16string& folder) {
    std::vector<plat::DirEntry> entries;
    if (!plat::listDirectory(folder, entries)) return;
    for (const plat::DirEntry& e : entries) {
        if (e.isDirectory || !isPartFileName(e.name) || isOpenPartFile(folder + u"\\" + e.name)) continue;
        if (plat::deleteFile(folder + u"\\" + e.name)) LOG(u"delete stale %s\\%s", folder, e.name);
    }
}

// The statuses the module GET follows itself.
bool isFollowedRedirect(long status) { return status == 301 || status == 302 || status == 303; }

// Receives the body: a 200 answer to a save-to-file request goes to a temporary file
// beside the target, any answer but a redirect to the caller's open file when there is
// one, everything else to the request's memory body, all within the policy's limits.
class BodySink {
public:
    BodySink(CURL* handle, TransferRequest& request) : m_handle(handle), m_request(request) {}
    ~BodySink() {
        if (!m_keepable || !keepPartial()) discardFile();
    }

    bool take(const char* data, size_t size) {
        if (!m_decided) decide();
        if (m_refused) return false;
        m_bytes += size;
        if (m_toFile) return writeToFile(data, size);
        if (m_toCallerFile) return writeToCallerFile(data, size);
        if (m_request.responseBody.size() + size > m_request.policy.maxMemoryBody) return false;
        m_request.responseBody.append(data, size);
        return true;
    }
    uint64_t bytes() const { return m_bytes; }
    bool writeFailed() const { return m_writeFailed; }

    // The answer continued the kept partial.
    bool resumed() const { return m_append; }

    // After a complete 200 answer (or 206 to a partial): puts the file under the target name.
    bool commit() {
        m_keepable = false;
        if (!m_file) return true;  // an empty body writes no file
        if (!writeBlock()) {
            m_writeFailed = true;
            discardFile();
            return false;
        }
        // The bytes are on the disk before the file takes its final name, and the name
        // before anyone is told: a power cut leaves no whole-looking package of wrong content.
        m_writeBehind.reset();  // waits for a flush it is running
        if (!m_file->flush()) {
            LOG(u"flush %s failed, error code: %d", m_tempPath, plat::lastErrorCode());
            discardFile();
            return false;
        }
        plat::FileIdentity identity;
        bool whole = m_file->identity(identity) && identity.size == m_digest->bytes();
        m_file.reset();
        if (!plat::moveFile(m_tempPath, m_request.savePath, true)) {
            LOG(u"move %s to %s failed, error code: %d", m_tempPath, m_request.savePath, plat::lastErrorCode());
            discardFile();
            return false;
        }
        plat::flushFolder(plat::parentFolder(m_request.savePath));
        notePartFile(m_tempPath, false);
        m_tempPath.clear();
        if (m_request.resume.keepPartial) plat::deleteFile(recordPathOf(m_request.savePath));
        // The digest check after the download takes this instead of reading the file again,
        // as long as the file keeps this identity.
        if (whole) app::rememberDigests(identity, m_digest->finish());
        return true;
    }

private:
    bool wantsFile() const { return m_request.saveToFile && !m_request.savePath.empty(); }

    uint64_t fileLimit() const {
        uint64_t general = m_request.policy.maxFileBody;
        return m_request.maxFileBytes > 0 && m_request.maxFileBytes < general ? m_request.maxFileBytes : general;
    }

    void decide() {
        m_decided = true;
        long status = 0;
        curl_easy_getinfo(m_handle, CURLINFO_RESPONSE_CODE, &status);
        m_toFile = wantsFile() && status == 200;
        if (wantsFile() && m_request.resume.keepPartial) decidePartial(status);
        if (!m_digest) m_digest = std::make_unique<app::BackgroundDigest>(m_request.digestSha256);
        // A redirect's body is nobody's business; it stays out of the caller's file.
        m_toCallerFile = !m_toFile && m_request.sinkFile && !isFollowedRedirect(status);
    }

    bool writeToCallerFile(const char* data, size_t size) {
        if (m_bytes > fileLimit()) return false;
        if (m_request.sinkFile->write(data, size)) return true;
        m_writeFailed = true;
        return false;
    }

    // A 200 answer starts the partial over; a 206 continues it when it starts where the
    // kept bytes end, ends with the file, and is of the file they came from.
    void decidePartial(long status) {
        TransferRequest::Resume& r = m_request.resume;
        std::string validator = answerValidator();
        if (status == 200) {
            r.from = 0;
            r.validator = validator;
            curl_off_t length = -1;
            curl_easy_getinfo(m_handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
            if (r.expectedSize == 0 && length > 0) r.expectedSize = static_cast<uint64_t>(length);
        } else if (status == 206 && r.from > 0 && r.digest) {
            uint64_t start = 0, end = 0, total = 0;
            m_toFile = contentRange(start, end, total) && start == r.from && end + 1 == total &&
                       (r.expectedSize == 0 || total == r.expectedSize) && (validator.empty() || validator == r.validator);
            if (!m_toFile) {
                r.startOver = true;
                m_refused = true;
                discardPartial(m_request.savePath);
                r.from = 0;
                r.digest.reset();
                return;
            }
            r.expectedSize = total;
            m_append = true;
            m_fileBytes = r.from;
            m_digest = std::make_unique<app::BackgroundDigest>(*r.digest);
        } else {
            return;
        }
        m_keepable = validValidator(r.validator);
    }

    // A strong ETag, else the Last-Modified date; empty when the answer has neither.
    std::string answerValidator() const {
        curl_header* header = nullptr;
        if (curl_easy_header(m_handle, "ETag", 0, CURLH_HEADER, -1, &header) == CURLHE_OK && header->value &&
            std::string_view(header->value).substr(0, 2) != "W/")
            return header->value;
        if (curl_easy_header(m_handle, "Last-Modified", 0, CURLH_HEADER, -1, &header) == CURLHE_OK && header->value)
            return header->value;
        return {};
    }

    // "Content-Range: bytes <start>-<end>/<total>".
    bool contentRange(uint64_t& start, uint64_t& end, uint64_t& total) const {
        curl_header* header = nullptr;
        if (curl_easy_header(m_handle, "Content-Range", 0, CURLH_HEADER, -1, &header) != CURLHE_OK || !header->value)
            return false;
        unsigned long long a = 0, b = 0, c = 0;
        char tail = 0;
        if (std::sscanf(header->value, "bytes %llu-%llu/%llu%c", &a, &b, &c, &tail) != 3 || a > b || b >= c)
            return false;
        start = a;
        end = b;
        total = c;
        return true;
    }

    void writeRecord(uint64_t bytes) {
        const TransferRequest::Resume& r = m_request.resume;
        if (writePartialRecord(m_request.savePath, PartialRecord{m_request.url, r.validator, r.expectedSize, bytes}))
            m_recorded = bytes;
    }

    // A cut transfer: the partial keeps every byte received, flushed, and its record says so.
    bool keepPartial() {
        m_keepable = false;
        if (!m_file || !writeBlock() || !m_file->flush()) return false;
        m_writeBehind.reset();
        m_file.reset();
        writeRecord(m_fileBytes);
        if (m_recorded != m_fileBytes) return false;
        TransferRequest::Resume& r = m_request.resume;
        r.from = m_fileBytes;
        r.digest = std::make_shared<app::DigestPass>(m_digest->passSoFar());
        notePartFile(m_tempPath, false);
        m_tempPath.clear();
        return true;
    }

    bool writeToFile(const char* data, size_t size) {
        if (size == 0) return true;
        if (m_fileBytes + size > fileLimit()) {
            m_request.resume.startOver = true;  // more than the file may hold: not the file
            m_keepable = false;
            return false;
        }
        if (!m_file && !openTempFile()) return false;
        m_fileBytes += size;
        try {
            if (m_block.capacity() < kFileBlockBytes) m_block.reserve(kFileBlockBytes);
            m_block.append(data, size);
        } catch (const std::bad_alloc&) {
            m_keepable = false;  // the count holds bytes the partial never got
            return false;        // never through libcurl: the transfer fails instead
        }
        return m_block.size() < kFileBlockBytes || writeBlock();
    }

    bool writeBlock() {
        if (m_block.empty()) return true;
        if (!m_file->write(m_block.data(), m_block.size())) {
            // A full disk or a short write: the transfer fails and its file goes.
            m_writeFailed = true;
            m_keepable = false;
            LOG(u"write %s failed, error code: %d", m_tempPath, plat::lastErrorCode());
            return false;
        }
        m_writeBehind->written(m_fileBytes);  // the block held every byte not yet written
        m_digest->take(m_block);  // without it the check reads the file instead
        m_block.clear();
        // What is on the disk can be continued after a cut, even one that ends the process.
        if (m_keepable && m_writeBehind->flushed() > m_recorded) writeRecord(m_writeBehind->flushed());
        return true;
    }

    bool openTempFile() {
        const std::u16string& target = m_request.savePath;
        size_t slash = target.rfind(u'\\');
        if (slash != std::u16string::npos && slash > 0) {
            std::u16string folder = target.substr(0, slash);
            if (!plat::directoryExists(folder)) plat::createDirectoryTree(folder);
            removeStalePartFiles(folder);
        }
        bool partial = m_request.resume.keepPartial;
        m_tempPath = partial ? partialPathOf(target) : target + text::format(u".%d.part", g_tempCounter.fetch_add(1) + 1);
        notePartFile(m_tempPath, true);
        if (partial && !m_append) plat::deleteFile(recordPathOf(target));  // the old record no longer holds
        m_file = plat::openFile(m_tempPath, m_append ? plat::OpenMode::Append : plat::OpenMode::WriteTruncate);
        if (m_file) m_writeBehind = std::make_unique<WriteBehind>(*m_file, m_append ? m_fileBytes : 0);
        if (m_file && m_keepable) writeRecord(m_fileBytes);
        if (!m_file) {
            notePartFile(m_tempPath, false);
            LOG(u"open %s failed, error code: %d", m_tempPath, plat::lastErrorCode());
            m_tempPath.clear();
        }
        return m_file != nullptr;
    }

    void discardFile() {
        if (m_tempPath.empty()) return;
        m_writeBehind.reset();
        m_file.reset();
        plat::deleteFile(m_tempPath);
        notePartFile(m_tempPath, false);
        if (m_request.resume.keepPartial) {
            plat::deleteFile(recordPathOf(m_request.savePath));
            m_request.resume.from = 0;
            m_request.resume.digest.reset();
        }
        m_tempPath.clear();
    }

    CURL* m_handle;
    TransferRequest& m_request;
    bool m_decided = false;
    bool m_toFile = false;
    bool m_toCallerFile = false;
    bool m_writeFailed = false;
    bool m_append = false;    // a 206 answer continues the kept partial
    bool m_keepable = false;  // a cut leaves the partial, with its record, for the next attempt
    bool m_refused = false;   // the answer does not continue the partial
    uint64_t m_recorded = 0;  // bytes the record says are on the disk
    uint64_t m_bytes = 0;  // of the answer's body, wherever it went
    std::unique_ptr<plat::File> m_file;
    std::unique_ptr<WriteBehind> m_writeBehind;  // declared after m_file: it goes first
    std::u16string m_tempPath;
    uint64_t m_fileBytes = 0;  // received for the file
    std::string m_block;       // received, not yet written
    std::unique_ptr<app::BackgroundDigest> m_digest;  // what went into the file, digested on the way
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    size_t bytes = size * count;
    if (!user) return bytes;
    return static_cast<BodySink*>(user)->take(data, bytes) ? bytes : 0;  // short count aborts
}

// Ends a transfer on which no byte has moved for the stall limit, and passes the counts on
// to the caller's callback. libcurl calls it often while data flows and about once a
// second while the line is silent, also before the answer starts.
class ProgressWatch {
public:
    ProgressWatch(ProgressCallback callback, long stallMs)
        : m_callback(callback), m_stallMs(stallMs), m_lastChange(std::chrono::steady_clock::now()) {}

    int update(curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t uploadTotal, curl_off_t uploaded) {
        auto now = std::chrono::steady_clock::now();
        if (downloaded != m_downloaded || uploaded != m_uploaded) {
            m_downloaded = downloaded;
            m_uploaded = uploaded;
            m_lastChange = now;
        } else if (now - m_lastChange > std::chrono::milliseconds(m_stallMs)) {
            return 1;
        }
        if (!m_callback) return 0;
        return m_callback(nullptr, static_cast<double>(downloadTotal), static_cast<double>(downloaded),
                          static_cast<double>(uploadTotal), static_cast<double>(uploaded));
    }

private:
    ProgressCallback m_callback;
    long m_stallMs;
    curl_off_t m_downloaded = 0;
    curl_off_t m_uploaded = 0;
    std::chrono::steady_clock::time_point m_lastChange;
};

int reportProgress(void* user, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t uploadTotal,
                   curl_off_t uploaded) {
    return static_cast<ProgressWatch*>(user)->update(downloadTotal, downloaded, uploadTotal, uploaded);
}

size_t readUpload(char* buffer, size_t size, size_t count, void* user) {
    int64_t n = static_cast<plat::File*>(user)->read(buffer, size * count);
    return n < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(n);
}

bool setPartData(curl_mimepart* part, const TransferRequest& request) {
    if (request.uploadFile && request.uploadFileBytes > 0)
        return curl_mime_data_cb(part, static_cast<curl_off_t>(request.uploadFileBytes), readUpload, nullptr,
                                 nullptr, request.uploadFile) == CURLE_OK;
    return curl_mime_data(part, request.uploadData.data(), request.uploadData.size()) == CURLE_OK;
}

bool buildForm(TransferContext& ctx, const TransferRequest& request) {
    bool streamed = request.uploadFile && request.uploadFileBytes > 0;
    bool binary = (streamed || !request.uploadData.empty()) && !request.uploadBufferName.empty();
    if (request.formFields.empty() && !binary) return true;  // a plain GET
    ctx.form = curl_mime_init(ctx.handle);
    if (!ctx.form) return false;
    for (const auto& [name, value] : request.formFields) {
        curl_mimepart* part = curl_mime_addpart(ctx.form);
        std::string bytes = text::toUtf8(value);
        if (!part || curl_mime_name(part, text::toUtf8(name).c_str()) != CURLE_OK ||
            curl_mime_data(part, bytes.data(), bytes.size()) != CURLE_OK)
            return false;
    }
    if (binary) {
        curl_mimepart* part = curl_mime_addpart(ctx.form);
        if (!part || curl_mime_name(part, kBinaryPartName) != CURLE_OK ||
            curl_mime_filename(part, request.uploadBufferName.c_str()) != CURLE_OK ||
            curl_mime_type(part, kBinaryPartType) != CURLE_OK || !setPartData(part, request))
            return false;
    }
    return curl_easy_setopt(ctx.handle, CURLOPT_MIMEPOST, ctx.form) == CURLE_OK;
}

bool isHttps(const std::string& url) {
    static const char kScheme[] = "https://";
    if (url.size() < sizeof kScheme - 1) return false;
    for (size_t i = 0; i + 1 < sizeof kScheme; ++i)
        if (std::tolower(static_cast<unsigned char>(url[i])) != kScheme[i]) return false;
    return true;
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

// The agent's own requests: its fixed headers, gzip when asked, redirects followed by
// libcurl, never from https to http.
void setAgentStyle(TransferContext& ctx, const std::string& url, const TransferRequest& request) {
    CURL* h = ctx.handle;
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(request.policy.maxRedirects));
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, isHttps(url) ? "https" : "http,https");
    for (const char* header : kFixedHeaders) ctx.headers = curl_slist_append(ctx.headers, header);
    // A partial holds the file's own bytes, which a range counts; never an encoding of them.
    if (request.acceptCompressed && !request.resume.keepPartial) {
        curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "gzip");
        curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 1L);
    }
}

// The module GET: Host without a port and the User-Agent alone, HTTP/1.1, no redirect
// followed by libcurl (the caller's loop does it).
bool setModuleStyle(TransferContext& ctx, const std::string& url) {
    CURL* h = ctx.handle;
    std::string host = hostOf(url);
    if (host.empty()) return false;
    ctx.headers = curl_slist_append(ctx.headers, ("Host: " + host).c_str());
    ctx.headers = curl_slist_append(ctx.headers, kModuleUserAgent);
    ctx.headers = curl_slist_append(ctx.headers, "Accept:");  // drops libcurl's default Accept
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    return true;
}

bool setOptions(TransferContext& ctx, const std::string& url, BodySink& sink, const TransferRequest& request,
                ProgressWatch& watch) {
    CURL* h = ctx.handle;
    const TransferPolicy& policy = request.policy;
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    if (policy.style == TransferPolicy::Style::ModuleGet) {
        if (!setModuleStyle(ctx, url)) return false;
    } else {
        setAgentStyle(ctx, url, request);
    }
    const TransferRequest::Resume& resume = request.resume;
    if (resume.keepPartial && resume.from > 0 && resume.digest && validValidator(resume.validator)) {
        curl_easy_setopt(h, CURLOPT_RANGE, (std::to_string(resume.from) + "-").c_str());
        ctx.headers = curl_slist_append(ctx.headers, ("If-Range: " + resume.validator).c_str());
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, ctx.headers);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    // Peers and host names are verified; plain http is unaffected.
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!policy.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, policy.caFile.c_str());
    // No transfer may hang: a bounded connect, a floor under the average rate, a limit on
    // silence in the watch, and a bound on the whole where the policy sets one.
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, policy.connectTimeoutMs);
    long lowSpeed = policy.lowSpeedBytesPerSecond;
    if (policy.maxReceiveBytesPerSecond > 0) {
        curl_easy_setopt(h, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(policy.maxReceiveBytesPerSecond));
        if (lowSpeed > policy.maxReceiveBytesPerSecond / 2) lowSpeed = static_cast<long>(policy.maxReceiveBytesPerSecond / 2);
    }
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, lowSpeed);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, policy.lowSpeedWindowSeconds);
    bool toFile = (request.saveToFile && !request.savePath.empty()) || request.sinkFile;
    long totalMs = toFile ? policy.fileTotalMs : policy.memoryTotalMs;
    if (totalMs > 0) curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, totalMs);
    // A declared length beyond what the body may reach is refused before any byte of it.
    uint64_t maxBody = toFile ? policy.maxFileBody : policy.maxMemoryBody;
    if (toFile && request.maxFileBytes > 0 && request.maxFileBytes < maxBody) maxBody = request.maxFileBytes;
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBody));
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, reportProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &watch);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    return true;
}

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

}  // namespace

TransferPolicy moduleGetPolicy(ModuleBody kind) {
    TransferPolicy policy;
    policy.style = TransferPolicy::Style::ModuleGet;
    policy.connectTimeoutMs = 10000;
    policy.stallMs = 10000;
    policy.memoryTotalMs = 60000;
    policy.maxMemoryBody = 16u << 20;
    bool document = kind == ModuleBody::Document;
    policy.fileTotalMs = document ? 60000 : 0;
    policy.maxFileBody = document ? (16u << 20) : (256u << 20);
    return policy;
}

namespace {

// One request and its answer, redirects left to the caller's policy.
TransferResult exchange(TransferRequest& request, const std::string& url, ProgressCallback progress,
                        std::string* location) {
    TransferResult result;
    TransferContext ctx;
    ctx.handle = curl_easy_init();
    if (!ctx.handle) return result;
    request.responseBody.clear();
    BodySink sink(ctx.handle, request);
    ProgressWatch watch(progress, request.policy.stallMs);
    if (!setOptions(ctx, url, sink, request, watch) || !buildForm(ctx, request)) return result;
    ProxyChoice proxy = applyProxy(ctx.handle, url);

    CURLcode code = curl_easy_perform(ctx.handle);
    logProxyRefusal(ctx.handle, proxy, url);
    curl_easy_getinfo(ctx.handle, CURLINFO_RESPONSE_CODE, &result.status);
    result.bytes = sink.bytes();
    if (code != CURLE_OK) {
        result.outcome = sink.writeFailed() ? TransferOutcome::WriteFailed : TransferOutcome::Failed;
        result.reason = curl_easy_strerror(code);
        return result;
    }
    char* next = nullptr;
    if (location && curl_easy_getinfo(ctx.handle, CURLINFO_REDIRECT_URL, &next) == CURLE_OK && next)
        *location = next;
    result.outcome = TransferOutcome::Completed;
    result.resumed = result.status == 206 && sink.resumed();
    if ((result.status == 200 || result.resumed) && !sink.commit()) result.outcome = TransferOutcome::WriteFailed;
    return result;
}

// The module GET's own loop over 301, 302 and 303.
TransferResult followRedirects(TransferRequest& request, ProgressCallback progress) {
    std::string url = escapeUrl(request.url);
    for (int hop = 0; hop <= request.policy.maxRedirects; ++hop) {
        std::string location;
        TransferResult result = exchange(request, url, progress, &location);
        if (result.outcome != TransferOutcome::Completed || !isFollowedRedirect(result.status) || location.empty())
            return result;
        std::string next = escapeUrl(text::fromUtf8(location));
        if (isHttps(url) && !isHttps(next)) {
            result.outcome = TransferOutcome::InsecureRedirect;
            return result;
        }
        url = std::move(next);
    }
    TransferResult result;
    result.outcome = TransferOutcome::TooManyRedirects;
    return result;
}

}  // namespace

TransferResult performTransfer(TransferRequest& request, ProgressCallback progress) {
    initialiseCurlOnce();
    if (request.policy.style == TransferPolicy::Style::ModuleGet) return followRedirects(request, progress);
    return exchange(request, text::toUtf8(request.url), progress, nullptr);
}

}  // namespace fetch
