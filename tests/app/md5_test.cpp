#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <random>

#include "app/background_digest.h"
#include "app/digest_check.h"
#include "app/md5.h"
#include "platform/files.h"
#include "text/text.h"
#include "support/host_sandbox.h"

namespace {

struct Vector {
    const char* message;
    const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const Vector kRfcSuite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

}  // namespace

TEST(Md5, RfcTestSuite) {
    for (const Vector& v : kRfcSuite) {
        EXPECT_EQ(app::md5OfBuffer(v.message, strlen(v.message)), v.digest) << v.message;
    }
}

// However the input is cut into updates (around the 64-byte block and the 56-byte padding
// boundary in particular), the digest is the one of the whole.
TEST(Md5, DigestDoesNotDependOnHowInputIsCut) {
    std::string data = randomBytes(300, 1);
    for (size_t length : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
        std::string whole = app::md5OfBuffer(data.data(), length);
        for (size_t cut = 0; cut <= length; ++cut) {
            app::Md5 md5;
            md5.update(data.data(), cut);
            md5.update(data.data() + cut, length - cut);
            uint8_t digest[16];
            md5.finish(digest);
            ASSERT_EQ(app::md5Hex(digest), whole) << "length " << length << " cut " << cut;
        }
    }
}

// Digested on a thread of its own, in blocks of any size, also past what the queue holds
// at once and larger than it: the same digest as in one go, whatever memory comes back.
TEST(Md5, BackgroundDigestAgreesWithTheDirectOne) {
    const std::string data = randomBytes((20u << 20) + 5, 7);
    for (size_t write : {size_t(0), size_t(4093), size_t(16384), size_t(3u << 20), size_t(9u << 20)}) {
        app::BackgroundDigest digest;
        std::string block;
        for (size_t at = 0; write > 0 && at < data.size(); at += write) {
            block.assign(data, at, write);
            ASSERT_TRUE(digest.take(block));
            ASSERT_TRUE(block.empty());
        }
        size_t covered = write == 0 ? 0 : data.size();
        EXPECT_EQ(digest.bytes(), covered);
        app::StreamDigests result = digest.finish();
        EXPECT_EQ(app::md5Hex(result.md5), app::md5OfBuffer(data.data(), covered)) << write;
    }
}

class Md5File : public testsupport::HostTest {};

app::DigestCheck md5Check(const std::string& md5, app::DigestSource source = app::DigestSource::RememberedOrBytes) {
    return app::DigestCheck{text::fromUtf8(md5), {}, plat::OpenMode::ReadShared, app::Md5Case::Ignored, source};
}

TEST_F(Md5File, CheckAgreesWithTheBufferDigestFromEitherSource) {
    for (auto source : {app::DigestSource::RememberedOrBytes, app::DigestSource::Bytes}) {
        for (size_t size : {1u, 2047u, 2048u, 2049u, 65536u, (1u << 20) + 3}) {
            std::string data = randomBytes(size, static_cast<unsigned>(size));
            write("f.bin", data);
            std::string expected = app::md5OfBuffer(data.data(), data.size());
            app::DigestFinding found = app::checkDigests(agentPath("f.bin"), md5Check(expected, source));
            EXPECT_TRUE(found.matches()) << size;
            EXPECT_EQ(found.bytes, size);
            // The same size with other bytes is another file to the digest.
            data[size / 2] = static_cast<char>(data[size / 2] ^ 1);
            write("f.bin", data);
            found = app::checkDigests(agentPath("f.bin"), md5Check(expected, source));
            EXPECT_FALSE(found.matches()) << size;
            EXPECT_EQ(text::toUtf8(found.md5), app::md5OfBuffer(data.data(), data.size())) << size;
        }
    }
}

TEST_F(Md5File, EmptyMissingOrFolderGiveNoDigest) {
    write("empty.bin", "");
    for (const char* name : {"empty.bin", "missing.bin", ""}) {
        app::DigestFinding found = app::checkDigests(agentPath(name), md5Check("d41d8cd98f00b204e9800998ecf8427e"));
        EXPECT_FALSE(found.matches()) << name;
        EXPECT_EQ(found.md5, u"") << name;
    }
}

TEST_F(Md5File, LetterCaseCountsOnlyWhereAsked) {
    write("f.bin", "message digest");
    const struct {
        const char16_t* md5;
        app::Md5Case letterCase;
        bool matches;
    } cases[] = {
        {u"f96b697d7cb7938d525a2f31aaf161d0", app::Md5Case::Ignored, true},
        {u"F96B697D7CB7938D525A2F31AAF161D0", app::Md5Case::Ignored, true},
        {u"f96b697d7cb7938d525a2f31aaf161d0", app::Md5Case::Exact, true},
        {u"F96B697D7CB7938D525A2F31AAF161D0", app::Md5Case::Exact, false},
        {u"f96b697d7cb7938d525a2f31aaf161d1", app::Md5Case::Ignored, false},
        {u" f96b697d7cb7938d525a2f31aaf161d0", app::Md5Case::Ignored, false},
    };
    for (const auto& c : cases) {
        app::DigestCheck check{c.md5, {}, plat::OpenMode::ReadExclusive, c.letterCase};
        EXPECT_EQ(app::checkDigests(agentPath("f.bin"), check).matches(), c.matches) << text::toUtf8(c.md5);
    }
}

// A package another process still has open without sharing cannot be vouched for; the
// streamed digest, which shares, still reads it.
TEST_F(Md5File, FileHeldExclusivelyByAnotherProcessFailsTheCheck) {
    write("held.bin", "abc");
    app::DigestCheck exclusive = md5Check("900150983cd24fb0d6963f7d28e17f72");
    exclusive.share = plat::OpenMode::ReadExclusive;
#ifdef _WIN32
    // Windows refuses a sharing open against any other handle, also one of this process.
    auto holder = plat::openFile(agentPath("held.bin"), plat::OpenMode::ReadExclusive);
    ASSERT_NE(holder, nullptr);
    EXPECT_FALSE(app::checkDigests(agentPath("held.bin"), exclusive).matches());
    holder.reset();
#else
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t child = fork();
    if (child == 0) {
        auto file = plat::openFile(agentPath("held.bin"), plat::OpenMode::ReadExclusive);
        char c = file ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        (void)!::read(release[0], &c, 1);
        _exit(0);
    }
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ASSERT_EQ(held, 'y');
    EXPECT_FALSE(app::checkDigests(agentPath("held.bin"), exclusive).matches());
    EXPECT_TRUE(app::checkDigests(agentPath("held.bin"), md5Check("900150983cd24fb0d6963f7d28e17f72")).matches());

    (void)!::write(release[1], "x", 1);
    waitpid(child, nullptr, 0);
#endif
    EXPECT_TRUE(app::checkDigests(agentPath("held.bin"), exclusive).matches());
}
