#include <gtest/gtest.h>

#include <filesystem>

#include "app/log.h"
#include "platform/clock.h"
#include "support/fake_clock.h"
#include "support/host_sandbox.h"

TEST(LogText, LineEndIsAddedOnlyToTextWithoutOne) {
    EXPECT_EQ(app::diag::logText(u"启动"), u"[OvUpdate.exe] 启动\r\n");
    EXPECT_EQ(app::diag::logText(u"ends\n"), u"[OvUpdate.exe] ends\n");
    EXPECT_EQ(app::diag::logText(u"ends\r\n"), u"[OvUpdate.exe] ends\r\n");
    EXPECT_EQ(app::diag::logText(u"two\nlines"), u"[OvUpdate.exe] two\nlines");
    EXPECT_EQ(app::diag::logText(u"bare\rreturn"), u"[OvUpdate.exe] bare\rreturn\r\n");
    EXPECT_EQ(app::diag::logText(u""), u"[OvUpdate.exe] \r\n");
}

TEST(LogText, DailyNameHasNoZeroPadding) {
    EXPECT_EQ(app::diag::logName(2014, 3, 7), u"kvlog_2014-3-7");
    EXPECT_EQ(app::diag::logName(2026, 12, 31), u"kvlog_2026-12-31");
}

TEST(LogText, NothingIsWrittenWithoutTheLoggerLibrary) { EXPECT_FALSE(app::diag::logLine(u"no library")); }

namespace {

}  // namespace

class LogFolder : public testsupport::HostTest {
protected:
    void TearDown() override { plat::setClock(nullptr); }
    void fill() {
        std::filesystem::create_directories(native("appdata/kvlog/archive"));
        write("appdata/kvlog/kvlog_2014-3-7.log", "today\n");
        write("appdata/kvlog/kvlog_2014-3-6.log", "yesterday\n");
        write("appdata/kvlog/kvlog_2014-03-07.log", "padded name: not today's\n");
#ifndef _WIN32  // one file on Windows, whose names ignore the letter case
        write("appdata/kvlog/KVLOG_2014-3-7.log", "other case: not today's\n");
#endif
        write("appdata/kvlog/notes.txt", "x");
        write("appdata/kvlog/.keep", "");
        write("appdata/kvlog/archive/kvlog_2014-3-1.log", "kept with its folder\n");
    }
    std::vector<std::string> remaining() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(native("appdata/kvlog")))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(LogFolder, CleanUpKeepsTodaysLogFoldersAndDotFiles) {
    fill();
    std::u16string folder = app::diag::logFolder();
    ASSERT_EQ(folder, agentPath("appdata/kvlog") + u"\\");
    app::diag::cleanLogFolder(folder, folder + u"kvlog_2014-3-7.log");
    EXPECT_EQ(remaining(), (std::vector<std::string>{".keep", "archive", "kvlog_2014-3-7.log"}));
    EXPECT_EQ(read("appdata/kvlog/kvlog_2014-3-7.log"), "today\n");
    EXPECT_EQ(read("appdata/kvlog/archive/kvlog_2014-3-1.log"), "kept with its folder\n");

    app::diag::cleanLogFolder(agentPath("appdata/none") + u"\\", u"");  // a missing folder is no error
}

// The set-up that runs before the entry point cleans by the local date, with or without a
// logger library (here there is none: no player is registered).
TEST_F(LogFolder, SetUpCleansByTodaysDate) {
    testsupport::FakeClock date;  // 2014-3-7
    fill();
    app::diag::loggerSetUp();
    EXPECT_EQ(remaining(), (std::vector<std::string>{".keep", "archive", "kvlog_2014-3-7.log"}));
    EXPECT_FALSE(app::diag::logLine(u"still no library"));
}
