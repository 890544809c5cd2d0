// Unpacking one-file archives: where the entry lands, its times, and what is refused.
#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>

#include "modules_fixture.h"

namespace modulestest {
namespace {

class UnZip : public ModuleTest {
protected:
    fs::path target() const { return m_sandbox.path() / "t" / "u"; }
    bool unzip(const std::string& archive) {
        fs::create_directories(target());
        writeFile(m_sandbox.path() / "a.zip", archive);
        return m_updater.UnZipOneFile(agentPath(target()), agentPath(m_sandbox.path() / "a.zip"));
    }
    // Seconds since 1970 (UTC), as the file system keeps them.
#ifdef _WIN32
    static struct _stat64 statOf(const fs::path& p) { struct _stat64 st { };
        _wstat64(p.c_str(), &st);
        return st;
    }
#else
    static struct stat statOf(const fs::path& p) {
        struct stat st {};
        stat(p.c_str(), &st);
        return st;
    }
#endif
    static int64_t mtimeOf(const fs::path& p) { return statOf(p).st_mtime; }
};

TEST_F(UnZip, WritesTheEntryWithItsTimes) {
    ASSERT_TRUE(unzip(makeZip({{"m.dll", "stamped", true, 1500000000}})));
    EXPECT_EQ(readFile(target() / "m.dll"), "stamped");
    EXPECT_EQ(mtimeOf(target() / "m.dll"), 1500000000);

    // Access and creation times where the entry carries them.
    ASSERT_TRUE(unzip(makeZip({{"c.dll", "all three", true, 1500000000, 0, 1400000000, 1300000000}})));
    EXPECT_EQ(mtimeOf(target() / "c.dll"), 1500000000);
    EXPECT_EQ(statOf(target() / "c.dll").st_atime, 1400000000);
    // The creation time is set too, where the file system keeps one (NTFS; not a Linux
    // file system, nor Wine on one), so it is not read back here.

    // Without "UT" the DOS time counts, read as local time.
    ASSERT_TRUE(unzip(makeZip({{"sub/n.dll", "dos", false}})));
    EXPECT_EQ(readFile(target() / "sub" / "n.dll"), "dos");
    std::tm local{};
    local.tm_year = 120, local.tm_mon = 0, local.tm_mday = 2, local.tm_hour = 3, local.tm_min = 4,
    local.tm_sec = 6;
    local.tm_isdst = -1;
    EXPECT_EQ(mtimeOf(target() / "sub" / "n.dll"), std::mktime(&local));

    ASSERT_TRUE(unzip(makeZip({{"folder/", "", false, -1, 0x10}})));
    EXPECT_TRUE(fs::is_directory(target() / "folder"));
}

TEST_F(UnZip, RefusesEverythingButOneSafeEntry) {
    std::vector<std::string> archives = {
        makeZip({}),
        makeZip({{"a.dll", "1"}, {"b.dll", "2"}}),
        makeZip({{"/abs.dll", "x"}}),
        makeZip({{"..\\..\\up.dll", "x"}}),
        makeZip({{"ok/../../../up.dll", "x"}}),
        makeZip({{"C:/drive.dll", "x"}}),
        makeBombZip("bomb.dll", 1000, 32u << 20),
        "not a zip at all",
    };
    for (size_t i = 0; i < archives.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(unzip(archives[i]));
    }
    EXPECT_TRUE(fs::is_empty(target()));
    EXPECT_FALSE(fs::exists(m_sandbox.path() / "up.dll"));
    EXPECT_FALSE(fs::exists(m_sandbox.path() / "t" / "up.dll"));
    EXPECT_FALSE(fs::exists("/abs.dll"));
}

}  // namespace
}  // namespace modulestest
