// The one check of a file's bytes against the digests a document names, used for
// packages, offers, module archives and staged or installed module files. Its options say
// what differs between those callers: how the file is shared while it is read, whether the
// MD5's letter case counts, and whether a digest remembered from the pass that wrote the
// unchanged file may answer.
#pragma once
#include <cstdint>
#include <string>

#include "platform/files.h"

namespace app {

enum class Md5Case { Ignored, Exact };  // Exact: the lower-case digest as the list writes it
enum class DigestSource {
    RememberedOrBytes,  // a file unchanged since a pass of this run took its digests
    Bytes,              // always read: the check before a file is started
};

struct DigestCheck {
    std::u16string md5;     // always checked
    std::u16string sha256;  // checked when given (a signed deployment names one), letter case ignored
    plat::OpenMode share = plat::OpenMode::ReadShared;
    Md5Case md5Case = Md5Case::Ignored;
    DigestSource source = DigestSource::RememberedOrBytes;
};

struct DigestFinding {
    std::u16string md5;     // lower-case hex; empty when the file could not be read or is empty
    std::u16string sha256;  // the same, when the check named one
    uint64_t bytes = 0;
    bool md5Equal = false;
    bool sha256Equal = false;  // true when the check named none
    bool matches() const { return md5Equal && sha256Equal; }
};

DigestFinding checkDigests(const std::u16string& path, const DigestCheck& check);
// The same over a file already open, read from its current position.
DigestFinding checkDigests(plat::File& file, const DigestCheck& check);

}  // namespace app
