// Digests of a file's bytes, computed in the pass that moves the bytes anyway (a body
// streaming in, an archive entry inflating, a check reading the file) and remembered by
// the file's identity, so that a later check of the same unchanged file takes the digest
// without reading the bytes again. The check itself still happens: the file is opened as
// before and its identity compared. MD5 is the digest today; another joins the same pass by
// adding a member to StreamDigests and a line to DigestPass.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/md5.h"
#include "platform/files.h"

struct StreamDigests {
    uint8_t md5[16] = {};
};

class DigestPass {
public:
    void update(const void* data, size_t size);
    uint64_t bytes() const { return m_bytes; }
    StreamDigests finish();

private:
    Md5 m_md5;
    uint64_t m_bytes = 0;
};

// What a pass over the whole file with this identity found; kept for the rest of the run.
void rememberDigests(const plat::FileIdentity& identity, const StreamDigests& digests);
bool rememberedDigests(const plat::FileIdentity& identity, StreamDigests& digests);
// Remembers the digests of everything written through file, taking its identity now.
void rememberDigestsOf(plat::File& file, DigestPass& pass);

// The digests of an open file read from its current position to its end; taken from
// memory when the file's identity is remembered. bytes tells how many bytes they cover.
bool digestsOfOpenFile(plat::File& file, StreamDigests& digests, uint64_t& bytes);

// A file that digests what is written through it.
class DigestingFile final : public plat::File {
public:
    explicit DigestingFile(plat::File& target) : m_target(target) {}
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
