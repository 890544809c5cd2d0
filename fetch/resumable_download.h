// A file download that survives cuts: it keeps what arrived in a partial beside the target
// (fetch/partial_file.h) and continues from there, on the spot when the connection dropped
// after bytes came, and in a later run from the record. Only a complete file takes the
// target's name; whether it is the right file is for the digest check to say.
#pragma once
#include <cstdint>
#include <string>

#include "fetch/transfer.h"

namespace fetch {

struct ResumableDownload {
    std::u16string url;
    std::u16string target;
    uint64_t expectedSize = 0;  // from the document; 0 when it names none
    bool digestSha256 = false;
    TransferPolicy policy;
};

TransferResult downloadResumable(const ResumableDownload& download, ProgressCallback progress = nullptr);

}  // namespace fetch
