// A module patch: the new file built from the file it replaces. The new file is a run of
// stretches, each a stretch of the old file with small byte differences added (a library
// whose code moved keeps most bytes, and the addresses that changed differ by little) and
// then bytes that are new. Three zstd frames carry the stretches' lengths, the
// differences and the new bytes, so the long runs of zero differences cost almost nothing.
//
// Layout, integers 64-bit little-endian:
//   "OVPATCH1", control frame bytes, difference frame bytes, new file bytes,
//   control frame, difference frame, new-bytes frame (to the end).
// The control frame holds records of three integers: bytes taken from the old file with
// their differences added, new bytes that follow, and the signed step of the old position
// before the next record.
#pragma once
#include <cstddef>
#include <cstdint>

namespace modules::patch {

inline constexpr char kMagic[8] = {'O', 'V', 'P', 'A', 'T', 'C', 'H', '1'};
inline constexpr size_t kHeaderBytes = 32;
inline constexpr size_t kRecordBytes = 24;
// The frames are written with this window, and a decoder takes no larger one: three
// frames decode at once, each holding at most this much besides the files themselves.
inline constexpr int kWindowLog = 22;
// Above this, an old or a new file is not patched (the full archive is taken): the old
// file and the new one are both held in memory while the patch is applied.
inline constexpr uint64_t kMaxFileBytes = 256ull << 20;

inline uint64_t readU64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

}  // namespace modules::patch
