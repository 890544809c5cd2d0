// The stretches are found the way bsdiff finds them: a suffix array of the old file gives
// the longest exact match at each position of the new file, and each match is widened
// forwards and backwards while at least half of the bytes still agree, so the stretch
// carries the small differences of moved code instead of breaking at each of them.
#include "tools/publish/patch_maker.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "modules/patch_format.h"

#ifdef OV_PATCH_MAKER
#include <divsufsort.h>
#include <zstd.h>
#endif

namespace publish {

#ifdef OV_PATCH_MAKER
namespace {

using Bytes = const unsigned char*;

int64_t matchLength(Bytes a, int64_t aSize, Bytes b, int64_t bSize) {
    int64_t i = 0;
    while (i < aSize && i < bSize && a[i] == b[i]) ++i;
    return i;
}

// The longest match of the new bytes among the old file's suffixes sa[st..en].
int64_t search(const saidx_t* sa, Bytes old, int64_t oldSize, Bytes nw, int64_t newSize,
               int64_t st, int64_t en, int64_t& pos) {
    while (en - st >= 2) {
        int64_t mid = st + (en - st) / 2;
        int64_t n = std::min(oldSize - sa[mid], newSize);
        if (std::memcmp(old + sa[mid], nw, static_cast<size_t>(n)) < 0) st = mid;
        else en = mid;
    }
    int64_t x = matchLength(old + sa[st], oldSize - sa[st], nw, newSize);
    int64_t y = matchLength(old + sa[en], oldSize - sa[en], nw, newSize);
    pos = x > y ? sa[st] : sa[en];
    return std::max(x, y);
}

void putU64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

struct Streams {
    std::string control, diff, extra;
};

void diffStreams(Bytes old, int64_t oldSize, Bytes nw, int64_t newSize, const saidx_t* sa,
                 Streams& s) {
    int64_t scan = 0, len = 0, pos = 0, lastScan = 0, lastPos = 0, lastOffset = 0;
    while (scan < newSize) {
        int64_t oldScore = 0;
        for (int64_t scsc = scan += len; scan < newSize; ++scan) {
            len = search(sa, old, oldSize, nw + scan, newSize - scan, 0, oldSize - 1, pos);
            for (; scsc < scan + len; ++scsc)
                if (scsc + lastOffset < oldSize && old[scsc + lastOffset] == nw[scsc]) ++oldScore;
            if ((len == oldScore && len != 0) || len > oldScore + 8) break;
            if (scan + lastOffset < oldSize && old[scan + lastOffset] == nw[scan]) --oldScore;
        }
        if (len == oldScore && scan != newSize) continue;
        // Widen the last match forwards and this one backwards while half the bytes agree.
        int64_t lenF = 0, lenB = 0;
        for (int64_t i = 0, same = 0, best = 0; lastScan + i < scan && lastPos + i < oldSize;) {
            if (old[lastPos + i] == nw[lastScan + i]) ++same;
            ++i;
            if (same * 2 - i > best * 2 - lenF) best = same, lenF = i;
        }
        if (scan < newSize) {
            for (int64_t i = 1, same = 0, best = 0; scan >= lastScan + i && pos >= i; ++i) {
                if (old[pos - i] == nw[scan - i]) ++same;
                if (same * 2 - i > best * 2 - lenB) best = same, lenB = i;
            }
        }
        if (lastScan + lenF > scan - lenB) {  // the two overlap: split where most bytes agree
            int64_t overlap = (lastScan + lenF) - (scan - lenB), same = 0, best = 0, lenS = 0;
            for (int64_t i = 0; i < overlap; ++i) {
                if (nw[lastScan + lenF - overlap + i] == old[lastPos + lenF - overlap + i]) ++same;
                if (nw[scan - lenB + i] == old[pos - lenB + i]) --same;
                if (same > best) best = same, lenS = i + 1;
            }
            lenF += lenS - overlap;
            lenB -= lenS;
        }
        for (int64_t i = 0; i < lenF; ++i) s.diff.push_back(static_cast<char>(nw[lastScan + i] - old[lastPos + i]));
        int64_t fresh = (scan - lenB) - (lastScan + lenF);
        s.extra.append(reinterpret_cast<const char*>(nw + lastScan + lenF), static_cast<size_t>(fresh));
        putU64(s.control, static_cast<uint64_t>(lenF));
        putU64(s.control, static_cast<uint64_t>(fresh));
        putU64(s.control, static_cast<uint64_t>((pos - lenB) - (lastPos + lenF)));
        lastScan = scan - lenB;
        lastPos = pos - lenB;
        lastOffset = pos - scan;
    }
}

bool compress(const std::string& in, std::string& out) {
    ZSTD_CCtx* ctx = ZSTD_createCCtx();
    if (!ctx) return false;
    ZSTD_CCtx_setParameter(ctx, ZSTD_c_compressionLevel, 19);
    ZSTD_CCtx_setParameter(ctx, ZSTD_c_windowLog, modules::patch::kWindowLog);
    out.resize(ZSTD_compressBound(in.size()));
    size_t n = ZSTD_compress2(ctx, out.data(), out.size(), in.data(), in.size());
    ZSTD_freeCCtx(ctx);
    if (ZSTD_isError(n)) return false;
    out.resize(n);
    return true;
}

}  // namespace

bool canMakePatches() { return true; }

bool makePatch(const std::string& old, const std::string& updated, std::string& patch) {
    if (old.empty() || old.size() > INT32_MAX) return false;
    try {
        std::vector<saidx_t> sa(old.size());
        auto oldBytes = reinterpret_cast<Bytes>(old.data());
        if (divsufsort(oldBytes, sa.data(), static_cast<saidx_t>(old.size())) != 0) return false;
        Streams s;
        diffStreams(oldBytes, static_cast<int64_t>(old.size()), reinterpret_cast<Bytes>(updated.data()),
                    static_cast<int64_t>(updated.size()), sa.data(), s);
        std::string control, diff, extra;
        if (!compress(s.control, control) || !compress(s.diff, diff) || !compress(s.extra, extra)) return false;
        patch.assign(modules::patch::kMagic, sizeof modules::patch::kMagic);
        putU64(patch, control.size());
        putU64(patch, diff.size());
        putU64(patch, updated.size());
        patch += control + diff + extra;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
#else
bool canMakePatches() { return false; }
bool makePatch(const std::string&, const std::string&, std::string&) { return false; }
#endif

}  // namespace publish
