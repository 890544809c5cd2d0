#include "app/digest_check.h"

#include <memory>

#include "app/md5.h"
#include "app/sha256.h"
#include "app/streamed_digest.h"
#include "text/text.h"

namespace app {

DigestFinding checkDigests(plat::File& file, const DigestCheck& check) {
    DigestFinding found;
    bool withSha256 = !check.sha256.empty();
    StreamDigests digests;
    uint64_t bytes = 0;
    bool read = check.source == DigestSource::Bytes ? readDigestsOfOpenFile(file, digests, bytes, withSha256)
                                                    : digestsOfOpenFile(file, digests, bytes, withSha256);
    found.sha256Equal = !withSha256;
    // An empty file is never the one a document names.
    if (!read || bytes == 0) return found;
    found.bytes = bytes;
    found.md5 = text::fromAnsi(md5Hex(digests.md5));
    found.md5Equal = check.md5Case == Md5Case::Exact ? found.md5 == check.md5
                                                      : found.md5 == text::toLower(check.md5);
    if (withSha256) {
        std::string sha256 = sha256Hex(digests.sha256);
        found.sha256 = text::fromAnsi(sha256);
        found.sha256Equal = sha256Matches(sha256, check.sha256);
    }
    return found;
}

DigestFinding checkDigests(const std::u16string& path, const DigestCheck& check) {
    std::unique_ptr<plat::File> file = plat::openFile(path, check.share);
    if (!file) {
        DigestFinding none;
        none.sha256Equal = check.sha256.empty();
        return none;
    }
    return checkDigests(*file, check);
}

}  // namespace app
