// Signatures made by the minisign command (a password-less key pair of its own, then
// `minisign -S` and `minisign -S -l` with the trusted comment minisign writes by default)
// checked by the agent's verifier, and the judgement a signed deployment makes of them.
#include <gtest/gtest.h>

#include <string>

#include "app/md5.h"
#include "app/digest_check.h"
#include "app/sha256.h"
#include "app/minisign.h"
#include "app/signed_document.h"
#include "app/streamed_digest.h"
#include "text/text.h"
#include "support/host_sandbox.h"

namespace {

const std::string kMessage = "<root><updates/></root>\n";
const std::string kPublicKeyFile =
    "untrusted comment: minisign public key 9E6183212270015C\n"
    "RWRcAXAiIYNhnmiyO9gV0SK2NorATkDAfIfV2Pei4vtVsIF0N3GqMsC3\n";
const std::string kOtherKey = "RWQgSA9AAGILGwtqTu6nxLbVRfQPFven2yquHWCPBNVkA6wZk+v0l2Sl";
const std::string kPrehashed =
    "untrusted comment: signature from minisign secret key\n"
    "RURcAXAiIYNhnmcXp7b6HHEnSK3UqEmlueZ+5wJJsOewTlhi+s6QU6jokO0XYOU1LJF/XaZ9ns7yHTALDCO2D6BpkHF3BvtEZQY=\n"
    "trusted comment: timestamp:1700000000\tfile:upcfg.xml\thashed\n"
    "4yqa3NMavYeGVBidXetOp/chkRBdocU7c+1AXd/YIzmURO2nczrCi1cpo7E3f+j6NNl6sx6ELfBvxN/Oap9GAg==\n";
const std::string kLegacy =
    "untrusted comment: signature from minisign secret key\n"
    "RWRcAXAiIYNhnhGRxi5bsZgJ8bc9FXtlOX+rlx2NbMa7DmIvs4cBCo82BZUPDC/jWrwA7fb1E/LgFKsYGUYemi7OF2DiGDL3gQs=\n"
    "trusted comment: timestamp:1700000000\tfile:upcfg.xml\n"
    "zxzh0cHi0RL/w2ckc4/qdKgIMBVG7Um73WoL8VPVrzC5q7As8PVG6BrB7uy3eXCR6x/JX1en3Q3JWIho0tc1Aw==\n";
constexpr uint64_t kSigned = 1700000000;

app::minisign::PublicKey key(const std::string& text) {
    app::minisign::PublicKey k;
    EXPECT_TRUE(app::minisign::parsePublicKey(text, k)) << text;
    return k;
}

std::string replaced(std::string s, const std::string& from, const std::string& to) {
    size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

}  // namespace

TEST(Minisign, PublicKeyFromItsLineOrItsWholeFile) {
    app::minisign::PublicKey fromFile = key(kPublicKeyFile);
    app::minisign::PublicKey fromLine = key("  RWRcAXAiIYNhnmiyO9gV0SK2NorATkDAfIfV2Pei4vtVsIF0N3GqMsC3\r\n");
    EXPECT_EQ(fromFile.id, fromLine.id);
    EXPECT_EQ(fromFile.key, fromLine.key);
    EXPECT_EQ(app::minisign::keyIdText(fromFile.id), "9E6183212270015C");  // as minisign prints it

    app::minisign::PublicKey k;
    for (const std::string& bad :
         {std::string(), std::string("untrusted comment: only\n"),
          std::string("RWRcAXAiIYNhnmiyO9gV0SK2NorATkDAfIfV2Pei4vtVsIF0N3GqMsC"),  // short
          std::string("RWRcAXAiIYNhnmiyO9gV0SK2NorATkDAfIfV2Pei4vtVsIF0N3GqMsC3AA=="),
          std::string("UWRcAXAiIYNhnmiyO9gV0SK2NorATkDAfIfV2Pei4vtVsIF0N3GqMsC3"),  // "Qd"
          std::string("RWRcAXAiIYNhnmiyO9gV0SK2NorATkDAfIfV2Pei4vtVsIF0N3GqMsC!")})
        EXPECT_FALSE(app::minisign::parsePublicKey(bad, k)) << bad;
}

TEST(Minisign, PrehashedAndLegacySignaturesVerifyWithTheirTrustedComment) {
    std::vector<app::minisign::PublicKey> keys = {key(kOtherKey), key(kPublicKeyFile)};
    for (const std::string* signature : {&kPrehashed, &kLegacy}) {
        app::minisign::Verification v = app::minisign::verify(kMessage, *signature, keys);
        ASSERT_EQ(v.status, app::minisign::Status::Verified) << *signature;
        EXPECT_EQ(v.fields.file, "upcfg.xml");
        EXPECT_TRUE(v.fields.hasTimestamp);
        EXPECT_EQ(v.fields.timestamp, kSigned);
    }
    app::minisign::Signature parsed;
    ASSERT_TRUE(app::minisign::parseSignature(kPrehashed, parsed));
    EXPECT_TRUE(parsed.prehashed);
    ASSERT_TRUE(app::minisign::parseSignature(kLegacy, parsed));
    EXPECT_FALSE(parsed.prehashed);
    // Windows line ends and lines after the fourth change nothing.
    std::string crlf = replaced(
        replaced(replaced(replaced(kPrehashed, "key\n", "key\r\n"), "=\n", "=\r\n"), "hashed\n", "hashed\r\n"),
        "==\n", "==\r\n");
    EXPECT_EQ(app::minisign::verify(kMessage, crlf + "more\n", keys).status, app::minisign::Status::Verified);
}

TEST(Minisign, EveryChangeIsRefusedForItsReason) {
    using app::minisign::Status;
    std::vector<app::minisign::PublicKey> keys = {key(kPublicKeyFile)};
    struct Case {
        const char* what;
        std::string message;
        std::string signature;
        std::vector<app::minisign::PublicKey> keys;
        Status expected;
    } cases[] = {
        {"one byte of the document", replaced(kMessage, "updates", "Updates"), kPrehashed, keys,
         Status::BadSignature},
        {"one byte of a legacy-signed document", kMessage + " ", kLegacy, keys, Status::BadSignature},
        {"another key", kMessage, kPrehashed, {key(kOtherKey)}, Status::UnknownKey},
        {"no key", kMessage, kPrehashed, {}, Status::UnknownKey},
        {"the trusted comment", kMessage, replaced(kPrehashed, "file:upcfg.xml", "file:update.xml"), keys,
         Status::BadGlobalSignature},
        {"the timestamp", kMessage, replaced(kLegacy, "1700000000", "1800000000"), keys,
         Status::BadGlobalSignature},
        {"the algorithm", kMessage, replaced(kPrehashed, "RURcAXAi", "RWRcAXAi"), keys, Status::BadSignature},
        {"an unknown algorithm", kMessage, replaced(kPrehashed, "RURcAXAi", "RVRcAXAi"), keys, Status::Malformed},
        {"the untrusted comment's prefix", kMessage, replaced(kPrehashed, "untrusted comment: ", "comment: "),
         keys, Status::Malformed},
        {"the trusted comment's prefix", kMessage, replaced(kPrehashed, "trusted comment: t", "trusted: t"), keys,
         Status::Malformed},
        {"a cut signature line", kMessage, replaced(kPrehashed, "BvtEZQY=", "BvtEZQ"), keys, Status::Malformed},
        {"no global signature", kMessage, kPrehashed.substr(0, kPrehashed.rfind("4yqa")), keys, Status::Malformed},
        {"an empty text", kMessage, "", keys, Status::Malformed},
        {"a document for a signature", kMessage, kMessage, keys, Status::Malformed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(app::minisign::verify(c.message, c.signature, c.keys).status, c.expected) << c.what;
    }
}

TEST(Minisign, TrustedCommentFields) {
    app::minisign::TrustedFields f = app::minisign::readTrustedComment("timestamp:1700000000\tfile:upcfg.xml\thashed");
    EXPECT_TRUE(f.hasFile);
    EXPECT_EQ(f.file, "upcfg.xml");
    EXPECT_TRUE(f.hasTimestamp);
    EXPECT_EQ(f.timestamp, kSigned);
    f = app::minisign::readTrustedComment("file:a.xml\tfile:b.xml\ttimestamp:12x");
    EXPECT_FALSE(f.hasFile);
    EXPECT_FALSE(f.hasTimestamp);
    f = app::minisign::readTrustedComment("timestamp:1\ttimestamp:2");
    EXPECT_FALSE(f.hasTimestamp);
    f = app::minisign::readTrustedComment("a comment of one's own");
    EXPECT_FALSE(f.hasFile);
    EXPECT_FALSE(f.hasTimestamp);
}

// What a signed deployment makes of a document: its path (or, in the product folder, its
// bare name), the prehashed kind, no older timestamp than one accepted before, none older
// than the age limit and none ahead of the clock.
TEST(SignedDocument, JudgementOfPathKindTimestampAndAge) {
    const std::u16string upcfg = u"product/OvUpdate/upcfg.xml";
    constexpr uint64_t kDay = 86400;
    struct Case {
        const char* what;
        std::u16string path;
        const std::string* signature;
        uint64_t newestAccepted;
        int maxAgeDays;
        uint64_t now;
        std::u16string reason;  // empty: accepted
    } cases[] = {
        {"the bare name in the product folder", upcfg, &kPrehashed, 0, 0, kSigned + 10 * kDay, u""},
        {"the same timestamp again", upcfg, &kPrehashed, kSigned, 0, kSigned + 10 * kDay, u""},
        {"within the age limit", upcfg, &kPrehashed, 0, 11, kSigned + 10 * kDay, u""},
        {"just at the age limit", upcfg, &kPrehashed, 0, 10, kSigned + 10 * kDay, u""},
        {"a day ahead of the clock", upcfg, &kPrehashed, 0, 30, kSigned - kDay, u""},
        {"the bare name elsewhere", u"modules/3.2/upcfg.xml", &kPrehashed, 0, 0, kSigned,
         u"signed for file \"upcfg.xml\", not modules/3.2/upcfg.xml"},
        {"another name", u"product/OvUpdate/update.xml", &kPrehashed, 0, 0, kSigned,
         u"signed for file \"upcfg.xml\", not product/OvUpdate/update.xml"},
        {"a name differing in case", u"product/OvUpdate/UpCfg.xml", &kPrehashed, 0, 0, kSigned,
         u"signed for file \"upcfg.xml\", not product/OvUpdate/UpCfg.xml"},
        {"a URL without a path", u"", &kPrehashed, 0, 0, kSigned, u"its URL has no path to sign it under"},
        {"the legacy kind", upcfg, &kLegacy, 0, 0, kSigned,
         u"legacy signature (minisign -l); only prehashed signatures are accepted"},
        {"older than accepted", upcfg, &kPrehashed, kSigned + 1, 0, kSigned,
         u"signed at 1700000000, older than 1700000001 accepted before (rollback)"},
        {"beyond the age limit", upcfg, &kPrehashed, 0, 9, kSigned + 10 * kDay,
         u"signed at 1700000000, more than 9 days ago (expired)"},
        {"more than a day ahead", upcfg, &kPrehashed, 0, 30, kSigned - kDay - 1,
         u"signed at 1700000000, more than a day ahead of this machine's clock 1699913599 (future)"},
    };
    app::signing::Policy policy;
    policy.keys = {key(kPublicKeyFile)};
    for (const Case& c : cases) {
        policy.newestAccepted = c.newestAccepted;
        policy.maxAgeDays = c.maxAgeDays;
        policy.now = c.now;
        app::signing::Judgement j = app::signing::judge(kMessage, *c.signature, c.path, policy);
        EXPECT_EQ(j.accepted, c.reason.empty()) << c.what;
        EXPECT_EQ(j.reason, c.reason) << c.what;
        if (j.accepted) {
            EXPECT_EQ(j.timestamp, kSigned);
        }
    }
    policy.newestAccepted = 0;
    policy.maxAgeDays = 0;
    EXPECT_EQ(app::signing::judge(kMessage + "x", kPrehashed, upcfg, policy).reason,
              u"signature does not match the document");
    EXPECT_EQ(app::signing::judge(kMessage, kPrehashed, upcfg, app::signing::Policy{}).reason,
              u"the deployment file's public key is not a minisign key");
    policy.keys = {key(kOtherKey)};
    EXPECT_EQ(app::signing::judge(kMessage, kPrehashed, upcfg, policy).reason,
              u"signed with key 9E6183212270015C, which the deployment does not trust");
}

TEST(SignedDocument, IdentityIsThePathBelowTheDomainRoot) {
    struct {
        std::u16string url, path;
    } cases[] = {
        {u"http://h:8/product/OvUpdate/upcfg.xml", u"product/OvUpdate/upcfg.xml"},
        {u"https://h/m/3.2/update.xml?x=1/y#z", u"m/3.2/update.xml"},
        {u"http://h/a//b/./c/../update%20list.xml", u"a/b/update list.xml"},
        {u"http://h/../update.xml", u""},
        {u"http://h/a%3Db/update.xml", u""},
        {u"http://h", u""},
        {u"\\data\\OvUpdate_Debug.xml", u""},
    };
    for (const auto& c : cases) EXPECT_EQ(app::signing::documentPath(c.url), c.path) << text::toUtf8(c.url);
    EXPECT_EQ(app::signing::signatureLocation(u"http://h/a.xml"), u"http://h/a.xml.minisig");
}

TEST(FileDigests, Sha256OfKnownTextsAndItsComparison) {
    EXPECT_EQ(app::sha256OfBuffer("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(app::sha256OfBuffer("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string digest = app::sha256OfBuffer("abc", 3);
    EXPECT_TRUE(app::sha256Matches(digest, u"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"));
    EXPECT_FALSE(app::sha256Matches(digest, u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ae"));
    EXPECT_FALSE(app::sha256Matches(digest, u"ba7816bf"));
    EXPECT_FALSE(app::isSha256Text(u"ga7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_FALSE(app::isSha256Text(u""));
}

class FileDigestsOfFile : public testsupport::HostTest {};

// Both digests come from one read and agree with the digests of the same bytes in memory,
// across the read size.
TEST_F(FileDigestsOfFile, OneReadGivesBothDigestsOfTheBytes) {
    for (size_t size : {1u, 64u, (1u << 20) - 1, (1u << 20) + 65}) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 31 + i / 7);
        write("f.bin", data);
        app::DigestCheck check{text::fromUtf8(app::md5OfBuffer(data.data(), data.size())),
                               text::fromUtf8(app::sha256OfBuffer(data.data(), data.size())), plat::OpenMode::ReadExclusive};
        app::DigestFinding both = app::checkDigests(agentPath("f.bin"), check);
        EXPECT_TRUE(both.md5Equal && both.sha256Equal) << size;
        EXPECT_EQ(both.bytes, size);
        check.sha256[7] = check.sha256[7] == u'0' ? u'1' : u'0';
        EXPECT_FALSE(app::checkDigests(agentPath("f.bin"), check).sha256Equal) << size;
    }
    app::DigestFinding missing = app::checkDigests(agentPath("missing.bin"), app::DigestCheck{u"x", u"y"});
    EXPECT_FALSE(missing.md5Equal || missing.sha256Equal);
    EXPECT_EQ(missing.bytes, 0u);
}

// Digests remembered for a file's identity answer a check only with what they hold: a
// record without SHA-256 makes the check read the file, and an MD5-only pass over the same
// bytes later does not take the SHA-256 away again.
TEST_F(FileDigestsOfFile, RememberedDigestsAnswerOnlyWhatTheyHold) {
    const std::string data = "the bytes of a module";
    write("g.bin", data);
    plat::FileIdentity identity;
    ASSERT_TRUE(plat::fileIdentity(agentPath("g.bin"), identity));
    app::rememberDigests(identity, app::StreamDigests{});  // an MD5-only record, and a wrong one
    const app::DigestCheck check{text::fromUtf8(app::md5OfBuffer(data.data(), data.size())),
                                 text::fromUtf8(app::sha256OfBuffer(data.data(), data.size()))};
    app::DigestFinding both = app::checkDigests(agentPath("g.bin"), check);
    EXPECT_TRUE(both.matches());

    app::DigestPass md5Only;
    md5Only.update(data.data(), data.size());
    app::rememberDigests(identity, md5Only.finish());
    app::StreamDigests kept;
    ASSERT_TRUE(app::rememberedDigests(identity, kept));
    EXPECT_TRUE(kept.hasSha256);
    EXPECT_TRUE(app::checkDigests(agentPath("g.bin"), check).matches());
}
