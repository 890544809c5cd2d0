#include "platform/profile.h"
#include <thread>
#include "text/text.h"
#include "support/host_sandbox.h"

using namespace plat;

class Profile : public testsupport::HostTest {
protected:
    std::u16string ini() const { return agentPath("settings.ini"); }
    std::u16string str(const std::u16string& section, const std::u16string& key, size_t chars = 260) {
        return getProfileString(section, key, u"def", chars, ini());
    }
};

TEST_F(Profile, LookupIgnoresCaseAndBlanksAndTheFirstMatchWins) {
    write("settings.ini",
          "; comment\r\n[Other]\r\nkey=other\r\n"
          "  [ Test ]  \r\n  PrintLog  =  1  \r\nprintlog=2\r\nquoted=\"  a b  \"\r\nsingle='x'\r\nempty=\r\n"
          "[test]\r\nlater=3\r\n");
    EXPECT_EQ(getProfileInt(u"TEST", u"printlog", 7, ini()), 1);
    EXPECT_EQ(str(u"test", u"PRINTLOG"), u"1");
    EXPECT_EQ(str(u"Test", u"quoted"), u"  a b  ");
    EXPECT_EQ(str(u"Test", u"single"), u"x");
    EXPECT_EQ(str(u"Test", u"empty"), u"");
    EXPECT_EQ(str(u"Test", u"later"), u"def");  // only the first section of a name is read
    EXPECT_EQ(str(u"Test", u"key"), u"def");
    EXPECT_EQ(str(u"Missing", u"key"), u"def");
    EXPECT_EQ(getProfileString(u"x", u"y", u"trailing   ", 260, agentPath("absent.ini")), u"trailing");
}

TEST_F(Profile, StringsAreCutToTheBuffer) {
    write("settings.ini", "[s]\nk=abcdef\n");
    EXPECT_EQ(str(u"s", u"k", 4), u"abc");
    EXPECT_EQ(str(u"s", u"k", 7), u"abcdef");
    EXPECT_EQ(str(u"s", u"k", 1), u"");
    EXPECT_EQ(str(u"s", u"k", 0), u"");
    EXPECT_EQ(getProfileString(u"s", u"none", u"default", 4, ini()), u"def");
}

TEST_F(Profile, IntegersParseTheWayWindowsDoes) {
    write("settings.ini", "[n]\na=42abc\nb=-7\nc=0x1F\nd=abc\ne=\nf=+3\ng=4294967295\n");
    EXPECT_EQ(getProfileInt(u"n", u"a", 9, ini()), 42);
    EXPECT_EQ(getProfileInt(u"n", u"b", 9, ini()), -7);
    EXPECT_EQ(getProfileInt(u"n", u"c", 9, ini()), 31);
    EXPECT_EQ(getProfileInt(u"n", u"d", 9, ini()), 0);
    EXPECT_EQ(getProfileInt(u"n", u"e", 9, ini()), 9);  // empty value: the default
    EXPECT_EQ(getProfileInt(u"n", u"f", 9, ini()), 3);
    EXPECT_EQ(getProfileInt(u"n", u"g", 9, ini()), -1);
    EXPECT_EQ(getProfileInt(u"n", u"missing", 9, ini()), 9);
}

TEST_F(Profile, ByteOrderMarksAndUnicode) {
    write("settings.ini", "\xEF\xBB\xBF[main]\nname=\xE4\xB8\xAD\xE6\x96\x87\n");
    EXPECT_EQ(str(u"main", u"name"), u"中文");
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("[main]\r\nbm=1\r\n")) utf16 += std::string(1, c) + '\0';
    write("settings.ini", utf16);
    EXPECT_EQ(getProfileInt(u"main", u"bm", 0, ini()), 1);
    // Writing keeps the file UTF-16LE.
    ASSERT_TRUE(writeProfileString(u"main", u"bm", u"2", ini()));
    EXPECT_EQ(read("settings.ini").substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(getProfileInt(u"main", u"bm", 0, ini()), 2);
}

TEST_F(Profile, WritingReplacesInPlaceAndKeepsTheRest) {
    write("settings.ini", "; keep me\r\n[updateinfo]\r\nUpdateFile = old.exe\r\nother=1\r\n\r\n[next]\r\nx=y\r\n");
    ASSERT_TRUE(writeProfileString(u"UPDATEINFO", u"updatefile", u"new.exe", ini()));
    ASSERT_TRUE(writeProfileString(u"updateinfo", u"added", u"v", ini()));
    ASSERT_TRUE(writeProfileString(u"fresh", u"k", u"1", ini()));
#ifndef _WIN32  // Wine's profile writer drops the blank lines that Windows keeps
    EXPECT_EQ(read("settings.ini"),
              "; keep me\r\n[updateinfo]\r\nUpdateFile=new.exe\r\nother=1\r\nadded=v\r\n\r\n[next]\r\nx=y\r\n"
              "\r\n[fresh]\r\nk=1\r\n");
#endif
    EXPECT_EQ(str(u"updateinfo", u"updatefile"), u"new.exe");

    ASSERT_TRUE(writeProfileString(u"CrashReport", u"DumpPath", u"", agentPath("created.ini")));
    EXPECT_EQ(read("created.ini"), "[CrashReport]\r\nDumpPath=\r\n");
    EXPECT_FALSE(writeProfileString(u"s", u"k", u"v", agentPath("no\\such\\folder.ini")));
}

TEST_F(Profile, HugeOrBinaryFilesAreHarmless) {
#ifdef _WIN32
    GTEST_SKIP() << "the size limit is the POSIX profile reader's; Windows reads files of any size";
#endif
    std::string binary;
    for (int i = 0; i < 100000; ++i) binary += static_cast<char>(i * 7919 % 256);
    write("settings.ini", binary);
    str(u"s", u"k");  // whatever it finds, it returns
    write("settings.ini", "[s]\nk=5\n" + std::string(17 * 1024 * 1024, 'x'));
    EXPECT_EQ(getProfileInt(u"s", u"k", 9, ini()), 9);
    EXPECT_FALSE(writeProfileString(u"s", u"k", u"1", ini()));  // never rewrites what it cannot read
    EXPECT_GT(std::filesystem::file_size(native("settings.ini")), 16u * 1024 * 1024);
}

TEST_F(Profile, ConcurrentWritersLoseNothing) {
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([this, t] {
            for (int k = 0; k < 10; ++k) writeProfileString(u"s", text::fromInt(t * 100 + k), u"v", ini());
        });
    for (auto& w : writers) w.join();
    for (int key = 0; key < 400; key += (key % 100 == 9) ? 91 : 1)
        EXPECT_EQ(str(u"s", text::fromInt(key)), u"v") << key;
}
