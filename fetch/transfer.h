// The agent's one HTTP client, over libcurl: a GET, or a multipart form POST when the
// request carries form parts. Every transfer of the agent goes through performTransfer,
// shaped by the request's policy (its bounds, how redirects are followed, which headers go
// out) into a memory body, a file that replaces the target only when whole, or an open
// file of the caller's. It never retries; callers retry with another URL.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "app/streamed_digest.h"
#include "platform/files.h"

namespace fetch {

// Bounds that keep a transfer finite, and the way it speaks HTTP. A transfer past any of
// the bounds is abandoned, which is a failed transfer for its caller.
struct TransferPolicy {
    long connectTimeoutMs = 30000;
    long stallMs = 60000;  // no byte moved for this long (checked about once a second)
    // An average below this rate over the window: a trickle is as good as silence.
    long lowSpeedBytesPerSecond = 1024;
    long lowSpeedWindowSeconds = 30;
    // The whole of a transfer whose body stays in memory, and of one into a file (0: no
    // bound, a package may take as long as it keeps moving).
    long memoryTotalMs = 60000;
    long fileTotalMs = 0;
    size_t maxMemoryBody = 16u << 20;   // far above any document or endpoint answer
    uint64_t maxFileBody = 8ull << 30;  // a body to file beyond this is not a package
    int maxRedirects = 10;
    // Agent: libcurl follows any redirect and sends the agent's fixed headers. ModuleGet:
    // only 301, 302 and 303 are followed, one request at a time; each sends "Host" (the
    // host name, never a port) and the fixed User-Agent alone, over HTTP/1.1, with the
    // URL's blanks and non-ASCII characters percent-escaped. Both go through the proxy
    // the user's settings name for the URL (https through a CONNECT tunnel, the server's
    // certificate verified as on a direct line).
    enum class Style { Agent, ModuleGet } style = Style::Agent;
    std::string caFile;  // an authority file instead of the system's (tests' own servers)
    // A cap on the receiving rate (libcurl's receive limit); 0: none. The trickle floor
    // above never exceeds half of it.
    int64_t maxReceiveBytesPerSecond = 0;
};

// The module update's GET: ten seconds to connect and of silence at most; a document
// (configuration, module list, signature) at most 16 MiB and one minute in all, an
// archive at most 256 MiB.
enum class ModuleBody { Document, Archive };
TransferPolicy moduleGetPolicy(ModuleBody kind);

struct TransferRequest {
    std::u16string url;  // absolute; sent as UTF-8
    // Text parts of the form, sent in name order (plain code-unit comparison).
    std::map<std::u16string, std::u16string> formFields;
    // Content of the binary part "optional", sent after the text parts; it is only sent when
    // both the data and its announced file name are non-empty.
    std::string uploadData;
    // Or the content streamed from an open file of this size, read from its start.
    plat::File* uploadFile = nullptr;
    uint64_t uploadFileBytes = 0;
    std::string uploadBufferName = "optional_data";
    // The answer kept in memory. A 200 answer to a save-to-file request goes to the file
    // instead and leaves this empty; every other answer lands here, also on failure.
    std::string responseBody;
    bool saveToFile = false;
    std::u16string savePath;
    bool acceptCompressed = true;  // offer gzip and decode it
    // For a save-to-file request: the size the body may reach (0: the general limit). A
    // package whose document declares its size is never allowed to grow beyond it.
    uint64_t maxFileBytes = 0;
    // For a save-to-file request: SHA-256 joins the digest taken on the way (a signed
    // deployment's check wants it), so the check after the download reads nothing again.
    bool digestSha256 = false;
    // Or every answer but a redirect streams into this open file of the caller's (its
    // writes are the caller's to judge); the answer's size is still bounded.
    plat::File* sinkFile = nullptr;
    // For a save-to-file request with keepPartial: the body goes to the partial file beside
    // the target (fetch/partial_file.h), which a cut transfer leaves with its record.
    // With from > 0 the rest after the kept bytes is asked for (Range, validated by If-Range):
    // a 206 answer continues the partial and its digest, a 200 answer starts it over. After
    // the transfer the fields describe what the partial holds, ready for the next attempt.
    struct Resume {
        bool keepPartial = false;
        uint64_t from = 0;          // bytes of the partial kept
        std::string validator;      // the version of the file they belong to
        uint64_t expectedSize = 0;  // of the whole file; 0 when unknown
        std::shared_ptr<app::DigestPass> digest;  // over the kept bytes
        bool startOver = false;     // the server's answer does not continue them
    } resume;
    TransferPolicy policy;
};

enum class TransferOutcome {
    Completed,         // an answer came whole; its status says what it is
    Failed,            // no whole answer: connection, time or size bound, the server
    WriteFailed,       // the body could not be written or put in place
    InsecureRedirect,  // an https request was sent to plain http
    TooManyRedirects,
};

struct TransferResult {
    TransferOutcome outcome = TransferOutcome::Failed;
    long status = 0;    // of the last answer, 0 when none came
    uint64_t bytes = 0;  // body bytes of the last answer
    std::string reason;  // libcurl's words for a failed exchange
    bool resumed = false;  // a 206 answer completed a partial kept from before
    bool ok() const { return outcome == TransferOutcome::Completed && (status == 200 || (status == 206 && resumed)); }
    explicit operator bool() const { return ok(); }
};

// libcurl's progress signature: context (always null), total to download, downloaded,
// total to upload, uploaded. A non-zero return aborts the transfer.
using ProgressCallback = int (*)(void* context, double downloadTotal, double downloaded, double uploadTotal,
                                 double uploaded);

// ok() when the transfer completed with status 200 and, for a save-to-file request, the
// body now stands complete under the save path (an empty body writes no file).
//
// A save-to-file body streams into a temporary file beside the target, which replaces the
// target only after a complete 200 answer: a failed transfer never creates, truncates or
// half-writes the file under the target name.
TransferResult performTransfer(TransferRequest& request, ProgressCallback progress = nullptr);

}  // namespace fetch
