#include "modules/patch_apply.h"

#include <cstring>
#include <new>
#include <zstd.h>

#include "modules/patch_format.h"

namespace modules {

namespace {

// One frame of the patch, decoded as far as it is read.
class Frame {
public:
    explicit Frame(std::string_view bytes) : m_in{bytes.data(), bytes.size(), 0}, m_ctx(ZSTD_createDCtx()) {
        if (m_ctx) ZSTD_DCtx_setParameter(m_ctx, ZSTD_d_windowLogMax, patch::kWindowLog);
    }
    ~Frame() { ZSTD_freeDCtx(m_ctx); }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    // Exactly size bytes into to; false on a decoder error or a frame that ends first.
    bool read(char* to, size_t size) {
        if (!m_ctx) return false;
        ZSTD_outBuffer out{to, size, 0};
        while (out.pos < out.size) {
            size_t inBefore = m_in.pos, outBefore = out.pos;
            size_t left = ZSTD_decompressStream(m_ctx, &out, &m_in);
            if (ZSTD_isError(left)) return false;
            m_frameDone = left == 0;
            if (m_in.pos == inBefore && out.pos == outBefore) return false;  // input ran out
        }
        return true;
    }
    // True when the whole frame was read and nothing follows it.
    bool finished() {
        if (!m_frameDone) {
            char extra = 0;
            ZSTD_outBuffer out{&extra, 1, 0};
            size_t left = ZSTD_decompressStream(m_ctx, &out, &m_in);
            if (ZSTD_isError(left) || out.pos != 0) return false;
            m_frameDone = left == 0;
        }
        return m_frameDone && m_in.pos == m_in.size;
    }

private:
    ZSTD_inBuffer m_in;
    ZSTD_DCtx* m_ctx;
    bool m_frameDone = false;
};

bool build(std::string_view old, Frame& control, Frame& diff, Frame& extra, std::string& out,
           std::u16string& why) {
    const uint64_t newSize = out.size();
    uint64_t newPos = 0, oldPos = 0;
    while (newPos < newSize) {
        unsigned char record[patch::kRecordBytes];
        if (!control.read(reinterpret_cast<char*>(record), sizeof record)) return why = u"control frame", false;
        uint64_t add = patch::readU64(record), copy = patch::readU64(record + 8);
        int64_t step = static_cast<int64_t>(patch::readU64(record + 16));
        if (add > newSize - newPos || add > old.size() - oldPos) return why = u"stretch out of range", false;
        // Within out and old, so every figure from here fits a size_t, also in a 32-bit build.
        auto at = static_cast<size_t>(newPos), from = static_cast<size_t>(oldPos), n = static_cast<size_t>(add);
        if (!diff.read(&out[at], n)) return why = u"difference frame", false;
        for (size_t i = 0; i < n; ++i) out[at + i] = static_cast<char>(out[at + i] + old[from + i]);
        newPos += add;
        oldPos += add;
        if (copy > newSize - newPos) return why = u"new bytes out of range", false;
        if (!extra.read(&out[static_cast<size_t>(newPos)], static_cast<size_t>(copy))) return why = u"new-bytes frame", false;
        newPos += copy;
        // The old position stays within the old file; a step out of it is no patch of ours.
        const auto oldSize = static_cast<int64_t>(old.size());
        if (step > oldSize || step < -oldSize) return why = u"step out of range", false;
        int64_t next = static_cast<int64_t>(oldPos) + step;
        if (next < 0 || next > oldSize) return why = u"step out of range", false;
        oldPos = static_cast<uint64_t>(next);
    }
    if (!control.finished() || !diff.finished() || !extra.finished()) return why = u"data after the end", false;
    return true;
}

}  // namespace

bool applyPatch(std::string_view old, std::string_view bytes, uint64_t maxBytes, std::string& out,
                std::u16string& why) {
    const auto* head = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() < patch::kHeaderBytes || std::memcmp(bytes.data(), patch::kMagic, sizeof patch::kMagic) != 0)
        return why = u"not a patch", false;
    uint64_t controlBytes = patch::readU64(head + 8), diffBytes = patch::readU64(head + 16);
    uint64_t newSize = patch::readU64(head + 24);
    uint64_t rest = bytes.size() - patch::kHeaderBytes;
    if (controlBytes > rest || diffBytes > rest - controlBytes) return why = u"frame sizes out of range", false;
    if (newSize > maxBytes || newSize > SIZE_MAX) return why = u"new file too large", false;
    try {
        out.assign(static_cast<size_t>(newSize), '\0');
    } catch (const std::bad_alloc&) {
        return why = u"no memory for the new file", false;
    }
    std::string_view frames = bytes.substr(patch::kHeaderBytes);
    // Both lie within the patch (checked above), so they fit a size_t.
    auto c = static_cast<size_t>(controlBytes), d = static_cast<size_t>(diffBytes);
    Frame control(frames.substr(0, c));
    Frame diff(frames.substr(c, d));
    Frame extra(frames.substr(c + d));
    return build(old, control, diff, extra, out, why);
}

}  // namespace modules
