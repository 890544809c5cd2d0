// Digests of a file's bytes, computed in the pass that moves the bytes anyway (a body
// streaming in, an archive entry inflating, a check reading the file) and remembered by
// the file's identity, so that a later check of the same unchanged file takes the digest
// without reading the bytes again. The check itself still happens: the file is opened as
// before and its identity compared. MD5 always; SHA-256 too where the pass is asked for it
// (a signed deployment checks both), so a check wanting both finds them remembered.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include <sodium/crypto_hash_sha256.h>

#include "app/md5.h"
#include "platform/files.h"

namespace app {

struct StreamDigests {
    uint8_t md5[16] = {};
    bool hasSha256 = false;
    uint8_t sha256[32] = {};
};

class DigestPass {
public:
    explicit DigestPass(bool withSha256 = false);
    void update(const void* data, size_t size);
    uint64_t bytes() const { return m_bytes; }
    StreamDigests finish();

private:
    Md5 m_md5;
    bool m_withSha256;
    crypto_hash_sha256_state m_sha256;  // used when asked for
    uint64_t m_bytes = 0;
};

// What a pass over the whole file with this identity found; kept for the rest of the run.
void rememberDigests(const plat::FileIdentity& identity, const StreamDigests& digests);
bool rememberedDigests(const plat::FileIdentity& identity, StreamDigests& digests);
// Remembers the digests of everything written through file, taking its identity now.
void rememberDigestsOf(plat::File& file, DigestPass& pass);

// The digests of an open file read from its current position to its end (SHA-256 too when
// asked); taken from memory when the file's identity is remembered with them. bytes tells
// how many bytes they cover.
bool digestsOfOpenFile(plat::File& file, StreamDigests& digests, uint64_t& bytes, bool withSha256 = false);
// The same always from the bytes: for the check before a file is started, which must not
// trust an identity that whoever can write the file can also put back.
bool readDigestsOfOpenFile(plat::File& file, StreamDigests& digests, uint64_t& bytes, bool withSha256);

// A file that digests what is written through it.
class DigestingFile final : public plat::File {
public:
    DigestingFile(plat::File& target, bool withSha256) : m_target(target), m_pass(withSha256) {}
    int64_t read(void* buffer, size_t size) override { return m_target.read(buffer, size); }
    bool write(const void* data, size_t size) override;
    bool size(uint64_t& size) override { return m_target.size(size); }
    bool flush() override { return m_target.flush(); }
    bool identity(plat::FileIdentity& identity) override { return m_target.identity(identity); }
    DigestPass& pass() { return m_pass; }

private:
    plat::File& m_target;
    DigestPass m_pass;
};

}  // namespace app
