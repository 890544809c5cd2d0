#include "app/streamed_digest.h"

#include <sodium/core.h>

#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

namespace app {

namespace {

// Enough for every file of a large module update; past it the memory starts over.
constexpr size_t kMaxRemembered = 1u << 16;
// Large reads keep system calls out of the digest's way.
constexpr size_t kReadChunk = 1 << 20;

struct IdentityHash {
    size_t operator()(const plat::FileIdentity& id) const {
        uint64_t h = id.fileId * 0x9E3779B97F4A7C15ull ^ id.volume;
        h ^= (h >> 29) ^ id.size * 0xBF58476D1CE4E5B9ull ^ static_cast<uint64_t>(id.modified);
        return static_cast<size_t>(h ^ (h >> 32));
    }
};

// Built on first use and never destroyed, as threads may still check files while the
// process ends.
struct Remembered {
    std::mutex mutex;
    std::unordered_map<plat::FileIdentity, StreamDigests, IdentityHash> digests;
};

Remembered& remembered() {
    static Remembered* all = new Remembered;
    return *all;
}

}  // namespace

DigestPass::DigestPass(bool withSha256) : m_withSha256(withSha256 && sodium_init() >= 0), m_sha256{} {
    if (m_withSha256) crypto_hash_sha256_init(&m_sha256);
}

void DigestPass::update(const void* data, size_t size) {
    m_md5.update(data, size);
    if (m_withSha256) crypto_hash_sha256_update(&m_sha256, static_cast<const unsigned char*>(data), size);
    m_bytes += size;
}

StreamDigests DigestPass::finish() {
    StreamDigests digests;
    m_md5.finish(digests.md5);
    if (m_withSha256) digests.hasSha256 = crypto_hash_sha256_final(&m_sha256, digests.sha256) == 0;
    return digests;
}

void rememberDigests(const plat::FileIdentity& identity, const StreamDigests& digests) {
    Remembered& all = remembered();
    std::lock_guard<std::mutex> lock(all.mutex);
    try {
        if (all.digests.size() >= kMaxRemembered) all.digests.clear();
        StreamDigests& kept = all.digests[identity];
        // The same bytes digested without SHA-256: the fuller record stays.
        if (kept.hasSha256 && !digests.hasSha256 && std::memcmp(kept.md5, digests.md5, sizeof kept.md5) == 0) return;
        kept = digests;
    } catch (const std::bad_alloc&) {
        all.digests.clear();
    }
}

bool rememberedDigests(const plat::FileIdentity& identity, StreamDigests& digests) {
    Remembered& all = remembered();
    std::lock_guard<std::mutex> lock(all.mutex);
    auto found = all.digests.find(identity);
    if (found == all.digests.end()) return false;
    digests = found->second;
    return true;
}

void rememberDigestsOf(plat::File& file, DigestPass& pass) {
    plat::FileIdentity identity;
    if (!file.identity(identity) || identity.size != pass.bytes()) return;
    rememberDigests(identity, pass.finish());
}

bool digestsOfOpenFile(plat::File& file, StreamDigests& digests, uint64_t& bytes, bool withSha256) {
    plat::FileIdentity before;
    bool known = file.identity(before);
    if (known && rememberedDigests(before, digests) && (digests.hasSha256 || !withSha256)) {
        bytes = before.size;
        return true;
    }
    if (!readDigestsOfOpenFile(file, digests, bytes, withSha256)) return false;
    plat::FileIdentity after;
    // Only a file that did not change while it was read is remembered.
    if (known && file.identity(after) && after == before && after.size == bytes) rememberDigests(after, digests);
    return true;
}

bool readDigestsOfOpenFile(plat::File& file, StreamDigests& digests, uint64_t& bytes, bool withSha256) {
    std::vector<uint8_t> buffer(kReadChunk);
    DigestPass pass(withSha256);
    for (;;) {
        int64_t got = file.read(buffer.data(), buffer.size());
        if (got < 0) return false;
        if (got == 0) break;
        pass.update(buffer.data(), static_cast<size_t>(got));
    }
    bytes = pass.bytes();
    digests = pass.finish();
    return true;
}

bool DigestingFile::write(const void* data, size_t size) {
    if (!m_target.write(data, size)) return false;
    m_pass.update(data, size);
    return true;
}

}  // namespace app
