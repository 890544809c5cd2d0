#include "platform/version_resource.h"
#include "platform/pe_builder.h"
#include "support/host_sandbox.h"

using namespace plat;

namespace {
platformtest::VersionFields sampleVersion() {
    platformtest::VersionFields wanted;
    wanted.fileVersion[0] = 3, wanted.fileVersion[1] = 5, wanted.fileVersion[2] = 0, wanted.fileVersion[3] = 1234;
    wanted.productVersion[0] = 3, wanted.productVersion[1] = 6;
    wanted.fileFlags = 2;
    wanted.strings = {{u"CompanyName", u"Lumora"}, {u"FileDescription", u"播放器"}, {u"ProductName", u"Orvix"}};
    return wanted;
}
}  // namespace

TEST(VersionResource, ReadsFixedPartAndStringsOfPe32AndPe32Plus) {
    for (bool plus : {false, true}) {
        VersionResource v;
        ASSERT_TRUE(parsePeVersionResource(platformtest::peWithVersion(sampleVersion(), plus), v)) << plus;
        EXPECT_EQ(v.fileVersion[0], 3);
        EXPECT_EQ(v.fileVersion[1], 5);
        EXPECT_EQ(v.fileVersion[2], 0);
        EXPECT_EQ(v.fileVersion[3], 1234);
        EXPECT_EQ(v.productVersion[1], 6);
        EXPECT_EQ(v.fileFlags, 2u);
        EXPECT_EQ(v.fileOS, 0x40004u);
        EXPECT_EQ(v.fileType, 1u);
        EXPECT_EQ(v.companyName, u"Lumora");
        EXPECT_EQ(v.productName, u"Orvix");
        EXPECT_EQ(v.fileDescription, u"播放器");
    }
}

TEST(VersionResource, StringTableFollowsTheTranslation) {
    auto wanted = sampleVersion();
    wanted.otherTables = {{u"040904b0", {{u"CompanyName", u"Other"}, {u"ProductName", u"Other"}}}};
    wanted.tableKey = u"080404B0";  // the translation's table, in other letter case
    VersionResource v;
    ASSERT_TRUE(parsePeVersionResource(platformtest::peWithVersion(wanted), v));
    EXPECT_EQ(v.companyName, u"Lumora");
    // Without a translation entry, or without its table, the first table is read.
    wanted.translation = false;
    ASSERT_TRUE(parsePeVersionResource(platformtest::peWithVersion(wanted), v));
    EXPECT_EQ(v.companyName, u"Other");
    wanted.translation = true;
    wanted.language = 0x0411;
    ASSERT_TRUE(parsePeVersionResource(platformtest::peWithVersion(wanted), v));
    EXPECT_EQ(v.productName, u"Other");
    // No strings at all: the version alone.
    wanted = sampleVersion();
    wanted.strings.clear();
    ASSERT_TRUE(parsePeVersionResource(platformtest::peWithVersion(wanted), v));
    EXPECT_EQ(v.fileVersion[3], 1234);
    EXPECT_EQ(v.companyName, u"");
}

TEST(VersionResource, FilesWithoutAResourceOrBrokenOnesHaveNoVersion) {
    VersionResource v;
    EXPECT_FALSE(parsePeVersionResource(platformtest::peWithoutVersion(), v));
    EXPECT_FALSE(parsePeVersionResource("", v));
    EXPECT_FALSE(parsePeVersionResource("MZ not a program at all", v));
    const std::string pe = platformtest::peWithVersion(sampleVersion());
    // Every truncation, and single flipped bytes everywhere, fail cleanly or still parse.
    for (size_t cut = 0; cut < pe.size(); ++cut) {
        parsePeVersionResource(pe.substr(0, cut), v);
        std::string damaged = pe;
        damaged[cut] = static_cast<char>(damaged[cut] ^ 0xFF);
        parsePeVersionResource(damaged, v);
    }
    EXPECT_FALSE(parsePeVersionResource(pe.substr(0, pe.size() / 2), v));
    EXPECT_EQ(v.fileVersion[0], 0);  // a failed read leaves nothing behind
}

// A large program is not read whole for its version: the headers, the way through the
// resource directory and the resource itself are all that is read.
TEST(VersionResource, ReadsOnlyTheHeadersAndTheResource) {
    for (bool pe32Plus : {false, true}) {
        std::string pe = platformtest::peWithVersion(sampleVersion(), pe32Plus);
        const size_t small = pe.size();
        pe.resize(16u << 20, '\x90');  // code and data after the resource
        size_t bytesRead = 0;
        PeReadAt counting = [&](uint64_t offset, size_t length, std::string& bytes) {
            bytesRead += length;
            return offset <= pe.size() && (bytes.assign(pe, static_cast<size_t>(offset), length), true);
        };
        VersionResource v;
        ASSERT_TRUE(parsePeVersionResource(counting, v));
        EXPECT_EQ(v.fileVersion[3], 1234);
        EXPECT_LE(bytesRead, small) << pe32Plus;
    }
}

class VersionFile : public testsupport::HostTest {};

TEST_F(VersionFile, ReadsTheResourceOfAFile) {
    write("Orvix.exe", platformtest::peWithVersion(sampleVersion()));
    write("plain.txt", "hello");
    VersionResource v;
    ASSERT_TRUE(readVersionResource(agentPath("ORVIX.EXE"), v));
    EXPECT_EQ(v.fileVersion[3], 1234);
    EXPECT_FALSE(readVersionResource(agentPath("plain.txt"), v));
    EXPECT_FALSE(readVersionResource(agentPath("missing.exe"), v));
}
