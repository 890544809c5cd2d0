// One HTTP exchange over libcurl: a GET, or a multipart form POST when the request carries
// form parts. Every transfer of the agent goes through performTransfer; it never retries,
// callers retry with another URL.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "platform/files.h"

namespace fetch {

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
};

// libcurl's progress signature: context (always null), total to download, downloaded,
// total to upload, uploaded. A non-zero return aborts the transfer.
using ProgressCallback = int (*)(void* context, double downloadTotal, double downloaded, double uploadTotal,
                                 double uploaded);

// True when the transfer completed with status 200 and, for a save-to-file request, the
// body now stands complete under the save path (an empty body writes no file).
//
// A save-to-file body streams into a temporary file beside the target, which replaces the
// target only after a complete 200 answer: a failed transfer never creates, truncates or
// half-writes the file under the target name.
bool performTransfer(TransferRequest& request, ProgressCallback progress = nullptr);

// Bounds that keep every transfer finite. Process-wide; tests shrink them.
// A transfer past any of them is abandoned, which is a failed transfer for its caller.
struct TransferLimits {
    long connectTimeoutMs = 30000;
    long stallMs = 60000;  // no byte moved for this long (checked about once a second)
    // An average below this rate over the window: a trickle is as good as silence.
    long lowSpeedBytesPerSecond = 1024;
    long lowSpeedWindowSeconds = 30;
    // The whole of a transfer kept in memory (documents, offers, crash reports).
    long memoryTransferTotalMs = 60000;
    size_t maxMemoryBody = 16u << 20;   // far above any document or endpoint answer
    uint64_t maxFileBody = 8ull << 30;  // a body to file beyond this is not a package
    long maxRedirects = 10;
    std::string caFile;  // an authority file instead of the system's (tests' own servers)
};
TransferLimits& transferLimits();

}  // namespace fetch
