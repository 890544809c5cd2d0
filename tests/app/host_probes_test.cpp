#include <gtest/gtest.h>

#include <filesystem>

#include "app/host_probes.h"
#include "platform/pe_builder.h"
#include "text/text.h"
#include "support/file_io.h"
#include "support/host_sandbox.h"

namespace {

const std::u16string kPlayerPathString =
    u"HKEY_LOCAL_MACHINE$$$$SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe$$$$ ";

}  // namespace

class HostProbes : public testsupport::HostTest {
protected:
    // The player's registration and a key of the host's own values.
    void registerPlayerAt(const std::string& exe) {
        registerPlayer(path() / exe);
        for (const auto& [name, value] : {std::pair{"area", "east"}, {"net", "tel"}, {"empty", ""}})
            registry().set("HKEY_CURRENT_USER\\Kavo.FDS", name, value);
    }
};

TEST_F(HostProbes, RegistryPathStrings) {
    std::filesystem::create_directories(native("player"));
    write("player/Orvix.exe", "MZ");
    registerPlayerAt("player/Orvix.exe");

    struct Case {
        std::u16string path;
        bool ok;
        std::u16string plain;  // the string after the plain-form read
    };
    const Case cases[] = {
        {u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$area", true, u"east"},
        // An empty piece between separators is dropped; pieces after the third are ignored.
        {u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$$$$$area", true, u"east"},
        {u"hkey_current_user$$$$kavo.fds$$$$NET$$$$extra", true, u"tel"},
        {kPlayerPathString, true, agentPath("player/Orvix.exe")},
        // Failures leave the string as it was.
        {u"HKEY_USERS$$$$Kavo.FDS$$$$area", false, u"HKEY_USERS$$$$Kavo.FDS$$$$area"},
        {u"HKEY_CURRENT_USER$$$$Kavo.FDS", false, u"HKEY_CURRENT_USER$$$$Kavo.FDS"},
        {u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$city", false, u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$city"},
        {u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$empty", false, u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$empty"},
        {u"", false, u""},
    };
    for (const Case& c : cases) {
        std::u16string s = c.path;
        EXPECT_EQ(app::readRegistryPath(s), c.ok) << text::toUtf8(c.path);
        EXPECT_EQ(s, c.plain) << text::toUtf8(c.path);
    }

    // The folder form cuts a value naming an existing file down to its folder.
    std::u16string s = kPlayerPathString;
    EXPECT_TRUE(app::readRegistryPathFolder(s));
    EXPECT_EQ(s, agentPath("player"));
    s = u"HKEY_CURRENT_USER$$$$Kavo.FDS$$$$area";
    EXPECT_TRUE(app::readRegistryPathFolder(s));
    EXPECT_EQ(s, u"east");
}

TEST_F(HostProbes, PlayerFolderFollowsTheAppPathsRegistration) {
#ifndef _WIN32  // a Windows registry may hold a registration of its own before the test's
    EXPECT_EQ(app::playerFolderWithSlash(), u"");
    EXPECT_EQ(app::playerFolderWithoutSlash(), u"");
#endif

    std::filesystem::create_directories(native("player"));
    write("player/Orvix.exe", "MZ");
    registerPlayerAt("player/Orvix.exe");
    EXPECT_EQ(app::playerFolderWithSlash(), agentPath("player") + u"\\");
    EXPECT_EQ(app::playerFolderWithoutSlash(), agentPath("player"));

    // A registration naming a file that is gone: the value stays whole, so no library is
    // found beside it; the other variant finds nothing.
    registerPlayerAt("player/Gone.exe");
    EXPECT_EQ(app::playerFolderWithSlash(), agentPath("player/Gone.exe"));
    EXPECT_EQ(app::playerFolderWithoutSlash(), u"");
    std::u16string s = kPlayerPathString;
    EXPECT_TRUE(app::readRegistryPathFolder(s));
    EXPECT_EQ(s, agentPath("player/Gone.exe"));

    // A value of 257 characters fits the 260-character buffer but not the 256 one.
    size_t prefix = agentPath("player/").size() + std::string("/Orvix.exe").size();
    std::string deep = "player/" + std::string(257 - prefix, 'd');
    ASSERT_EQ(agentPath(deep + "/Orvix.exe").size(), 257u);
    std::filesystem::create_directories(native(deep));
    write(deep + "/Orvix.exe", "MZ");
    registerPlayerAt(deep + "/Orvix.exe");
    EXPECT_EQ(app::playerFolderWithSlash(), u"");
    EXPECT_EQ(app::playerFolderWithoutSlash(), agentPath(deep));
}

TEST_F(HostProbes, BrokenRegistryFilesAnswerNothing) {
#ifdef _WIN32
    GTEST_SKIP() << "writes the POSIX registry file; the Win32 registry tests and the Wine run cover Windows";
#endif
    const std::string kAppPaths =
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe]\n";
    const std::string bodies[] = {
        "garbage without a header",
        std::string("\0\1\2\3\xff\xfe", 6),
        kAppPaths + "@=\"\\\\tmp\\\\unterminated\n",
        kAppPaths.substr(0, 30),
    };
    for (const std::string& body : bodies) {
        testsupport::writeFile(registry().file(), body);
        EXPECT_EQ(app::playerFolderWithSlash(), u"");
        std::u16string s = kPlayerPathString;
        EXPECT_FALSE(app::readRegistryPath(s));
        EXPECT_EQ(s, kPlayerPathString);
    }
    // Far larger than any registry export: refused without being read.
    testsupport::writeFile(registry().file(),
                           "Windows Registry Editor Version 5.00\n" + std::string(20 << 20, ';'));
    EXPECT_EQ(app::playerFolderWithoutSlash(), u"");
}

TEST(CompareVersions, NumberByNumberAndOnlyWithFourParts) {
    struct Case {
        const char16_t *a, *b;
        int result;
    };
    const Case cases[] = {
        {u"1.2.3.4", u"1.2.3.10", -1},  // numbers, not text
        {u"1.2.3.10", u"1.2.3.4", 1},  {u"2.0.0.0", u"10.0.0.0", -1},
        {u"1.2.3.4", u"1.2.3.4", 0},   {u"1.2.3", u"1.2.4.0", 0},  // three parts: not comparable
        {u"1.2.3.4.5", u"9.0.0.0", 0}, {u"", u"1.0.0.0", -1},
        {u"1.0.0.0", u"", 1},          {u"", u"", 0},
        {u"1..2.3.4", u"1.2.3.5", -1},  // empty pieces are dropped
        {u"x.0.0.1", u"0.0.0.0", 1},    // a piece without digits counts as 0
        {u"3a.0.0.0", u"3.0.0.0", 0},   // leading digits only
    };
    for (const Case& c : cases)
        EXPECT_EQ(app::compareVersions(c.a, c.b), c.result) << text::toUtf8(c.a) << " vs " << text::toUtf8(c.b);
}

TEST_F(HostProbes, VersionsFromPeFiles) {
    platformtest::VersionFields wanted;
    wanted.fileVersion[0] = 7, wanted.fileVersion[1] = 1, wanted.fileVersion[2] = 20, wanted.fileVersion[3] = 300;
    wanted.productVersion[0] = 7, wanted.productVersion[1] = 2, wanted.productVersion[2] = 0,
    wanted.productVersion[3] = 1;
    wanted.fileFlags = 2;
    wanted.strings = {
        {u"CompanyName", u"Lumora"}, {u"ProductName", u"Orvix 播放器"}, {u"FileDescription", u"Player"}};
    for (bool pe32Plus : {false, true}) {
        write("Orvix.exe", platformtest::peWithVersion(wanted, pe32Plus));
        EXPECT_EQ(app::fileVersion(agentPath("Orvix.exe")), u"7.1.20.300");
        app::VersionRecord record = app::versionRecord(agentPath("Orvix.exe"));
        EXPECT_EQ(record.path, agentPath("Orvix.exe"));
        EXPECT_EQ(record.productVersion[1], 2);
        EXPECT_EQ(record.fileVersion[3], 300);
        EXPECT_EQ(record.fileFlags, 2u);
        EXPECT_EQ(record.fileType, 1u);
        EXPECT_EQ(record.companyName, u"Lumora");
        EXPECT_EQ(record.productName, u"Orvix 播放器");
        EXPECT_EQ(record.fileDescription, u"Player");
    }

    // The version is read again once the file has changed, even to one of the same size.
    const std::pair<uint16_t, const char16_t*> revisions[] = {{301, u"7.1.20.301"}, {302, u"7.1.20.302"}};
    for (const auto& [revision, expected] : revisions) {
        wanted.fileVersion[3] = revision;
        write("Orvix.exe", platformtest::peWithVersion(wanted));
        EXPECT_EQ(app::fileVersion(agentPath("Orvix.exe")), expected);
        EXPECT_EQ(app::versionRecord(agentPath("Orvix.exe")).fileVersion[3], revision);
    }

    write("plain.dll", platformtest::peWithoutVersion());
    EXPECT_EQ(app::fileVersion(agentPath("plain.dll")), u"");
    app::VersionRecord none = app::versionRecord(agentPath("plain.dll"));
    EXPECT_EQ(none.fileVersion[0], 0);
    EXPECT_EQ(none.companyName, u"");
    EXPECT_EQ(app::fileVersion(agentPath("missing.dll")), u"");
}

TEST_F(HostProbes, DamagedPeFilesHaveNoVersion) {
#ifdef _WIN32
    GTEST_SKIP() << "the system's version library decides there (Wine's reads cut images); the portable reader is "
                    "tested here";
#endif
    platformtest::VersionFields wanted;
    wanted.strings = {{u"CompanyName", u"Lumora"}};
    std::string pe = platformtest::peWithVersion(wanted);
    // Every truncation that cuts into the resource (the image ends in alignment zeros), and
    // the file with its resource bytes overwritten.
    size_t used = pe.find_last_not_of('\0') + 1;
    for (size_t length = 0; length < used; length += 7) {
        write("cut.exe", pe.substr(0, length));
        EXPECT_EQ(app::fileVersion(agentPath("cut.exe")), u"") << length;
        EXPECT_EQ(app::versionRecord(agentPath("cut.exe")).companyName, u"") << length;
    }
    std::string scrambled = pe;
    for (size_t i = 0x200; i < scrambled.size(); ++i) scrambled[i] = '\xff';
    write("scrambled.exe", scrambled);
    EXPECT_EQ(app::fileVersion(agentPath("scrambled.exe")), u"");
    // A valid image at the start of a file far larger than any program (sparse, so cheap).
    write("huge.exe", pe);
    std::filesystem::resize_file(native("huge.exe"), 1ull << 32);
    EXPECT_EQ(app::fileVersion(agentPath("huge.exe")), u"");
}

TEST_F(HostProbes, FileExistsMeansAFileNotAFolder) {
    write("a.txt", "x");
    std::filesystem::create_directories(native("folder"));
    EXPECT_TRUE(app::fileExists(agentPath("a.txt")));
    std::u16string forward = text::fromUtf8(native("a.txt"));  // "/" separators are accepted
    EXPECT_TRUE(app::fileExists(forward));
    EXPECT_FALSE(app::fileExists(agentPath("folder")));
    EXPECT_FALSE(app::fileExists(agentPath("b.txt")));
    EXPECT_FALSE(app::fileExists(u""));
}
