#include "fetch/resumable_download.h"

#include <vector>

#include "app/log.h"
#include "fetch/partial_file.h"
#include "platform/files.h"

namespace fetch {
namespace {

// A cut that moved the file forward is tried again at once, this many times at most.
constexpr int kMaxAttempts = 6;
constexpr size_t kReadChunk = 1 << 20;

// Holds the partial out of the clean-ups' reach while the download runs.
struct InUse {
    explicit InUse(const std::u16string& target) : m_target(target) { notePartialInUse(target, true); }
    ~InUse() { notePartialInUse(m_target, false); }
    std::u16string m_target;
};

// The digest of the partial's first `bytes` bytes, which this run did not write.
bool digestPrefix(const std::u16string& path, uint64_t bytes, app::DigestPass& pass) {
    auto file = plat::openFile(path, plat::OpenMode::ReadShared);
    if (!file) return false;
    std::vector<char> buffer(kReadChunk);
    while (pass.bytes() < bytes) {
        uint64_t left = bytes - pass.bytes();
        int64_t got = file->read(buffer.data(), left < buffer.size() ? static_cast<size_t>(left) : buffer.size());
        if (got <= 0) return false;
        pass.update(buffer.data(), static_cast<size_t>(got));
    }
    return true;
}

// Where the kept partial lets this download begin; a partial that cannot be continued goes.
void resumePoint(const ResumableDownload& d, TransferRequest::Resume& resume) {
    resume.keepPartial = true;
    resume.expectedSize = d.expectedSize;
    PartialRecord record;
    uint64_t size = 0;
    std::u16string partial = partialPathOf(d.target);
    bool known = readPartialRecord(d.target, record);
    // Another address's bytes stay until an answer from this one replaces them.
    if (known && record.url != d.url) return;
    bool usable = known && record.bytes > 0 &&
                  (d.expectedSize == 0 || record.expectedSize == d.expectedSize) &&
                  plat::fileSize(partial, size) && size >= record.bytes &&
                  (record.expectedSize == 0 || size <= record.expectedSize);
    // Bytes past the record's count were never known to reach the disk.
    auto pass = std::make_shared<app::DigestPass>(d.digestSha256);
    if (usable && (size == record.bytes || plat::resizeFile(partial, record.bytes)) &&
        digestPrefix(partial, record.bytes, *pass)) {
        resume.from = record.bytes;
        resume.validator = record.validator;
        resume.expectedSize = record.expectedSize;
        resume.digest = pass;
        LOG(u"resume download of %s after %d bytes", d.target, record.bytes);
        return;
    }
    if (plat::fileExists(partial) || plat::fileExists(recordPathOf(d.target))) {
        discardPartial(d.target);
        LOG(u"start download of %s over, the partial does not continue it", d.target);
    }
}

void startOver(TransferRequest::Resume& resume, uint64_t expectedSize, const std::u16string& target) {
    discardPartial(target);
    resume.from = 0;
    resume.digest.reset();
    resume.expectedSize = expectedSize;
    resume.startOver = false;
}

}  // namespace

TransferResult downloadResumable(const ResumableDownload& d, ProgressCallback progress) {
    InUse guard(d.target);
    TransferRequest request;
    request.url = d.url;
    request.saveToFile = true;
    request.savePath = d.target;
    request.maxFileBytes = d.expectedSize;
    request.digestSha256 = d.digestSha256;
    request.policy = d.policy;
    resumePoint(d, request.resume);
    TransferResult result;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        uint64_t before = request.resume.from;
        result = performTransfer(request, progress);
        if (result.ok()) return result;
        TransferRequest::Resume& resume = request.resume;
        if (result.outcome == TransferOutcome::Completed && result.status == 416) resume.startOver = true;
        if (resume.startOver) {
            LOG(u"start download of %s over, the server's answer does not continue the partial", d.target);
            startOver(resume, d.expectedSize, d.target);
            continue;
        }
        if (result.outcome != TransferOutcome::Failed || resume.from <= before) break;
        LOG(u"download of %s cut after %d bytes, resuming", d.target, resume.from);
    }
    return result;
}

}  // namespace fetch
