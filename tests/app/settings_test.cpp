#include <gtest/gtest.h>

#include <filesystem>

#include "app/deploy_settings.h"
#include "app/settings.h"
#include "platform/files.h"
#include "platform/system.h"
#include "support/host_sandbox.h"

class Settings : public testsupport::HostTest {
protected:
    std::u16string dataFolder() const { return agentPath("appdata/Lumora Video/Orvix"); }
    void makeDataFolder() const { std::filesystem::create_directories(native("appdata/Lumora Video/Orvix")); }
};

TEST_F(Settings, DataFolderLiesUnderRoamingApplicationData) { EXPECT_EQ(app::settings::dataFolder(), dataFolder()); }

// Integer reads fall back to the executable's folder only while the data folder is
// missing; string reads and writes always use the data folder; a path is used as given.
TEST_F(Settings, WhereEachKindOfAccessLooks) {
    std::u16string exeFolder = plat::parentFolder(plat::executablePath());
    EXPECT_EQ(app::settings::resolveSettingsFile(u"OvUpdate.ini", true), exeFolder + u"\\OvUpdate.ini");
    EXPECT_EQ(app::settings::resolveSettingsFile(u"OvUpdate.ini", false), dataFolder() + u"\\OvUpdate.ini");

    makeDataFolder();
    EXPECT_EQ(app::settings::resolveSettingsFile(u"OvUpdate.ini", true), dataFolder() + u"\\OvUpdate.ini");
    EXPECT_EQ(app::settings::resolveSettingsFile(u"OvUpdate.ini", false), dataFolder() + u"\\OvUpdate.ini");

    EXPECT_EQ(app::settings::resolveSettingsFile(u"\\etc\\Kavo.ini", true), u"\\etc\\Kavo.ini");
}

TEST_F(Settings, ReadsAndWritesInTheDataFolder) {
    makeDataFolder();
    write("appdata/Lumora Video/Orvix/OvUpdate.ini", "[Test]\r\nprintlog=1\r\ndebug = 7\r\n");
    EXPECT_EQ(app::settings::readInt(app::settings::kSectionTest, app::settings::kKeyPrintLog, 0, app::settings::kOvUpdateIni), 1);
    EXPECT_EQ(app::settings::readInt(u"test", u"DEBUG", 0, app::settings::kOvUpdateIni), 7);
    EXPECT_EQ(app::settings::readInt(app::settings::kSectionTest, app::settings::kKeyReadLocalXml, 0, app::settings::kOvUpdateIni), 0);
    // Absent from the existing data folder: the default, wherever else the file may be.
    EXPECT_EQ(app::settings::readInt(app::settings::kSectionMain, app::settings::kKeyBm, 3, app::settings::kKavoIni), 3);

    app::settings::writeString(app::settings::kSectionUpdateInfo, app::settings::kKeyUpdateFile, u"OrvixSetup_7.1.exe",
                          app::settings::kOvUpdateIni);
    EXPECT_EQ(app::settings::readString(app::settings::kSectionUpdateInfo, app::settings::kKeyUpdateFile, u"", 260,
                                   app::settings::kOvUpdateIni),
              u"OrvixSetup_7.1.exe");
    EXPECT_EQ(app::settings::readInt(app::settings::kSectionTest, app::settings::kKeyPrintLog, 0, app::settings::kOvUpdateIni), 1);

    // The buffer size counts the terminator.
    write("appdata/Lumora Video/Orvix/Testing.ini", "[Device]\nClientIDForTest=abcdef\n");
    EXPECT_EQ(app::settings::readString(app::settings::kSectionDevice, app::settings::kKeyClientIdForTest, u"", 4,
                                   app::settings::kTestingIni),
              u"abc");
}

TEST_F(Settings, StringReadsDoNotFallBackWhenTheDataFolderIsMissing) {
    EXPECT_EQ(app::settings::readString(app::settings::kSectionDevice, app::settings::kKeyClientIdForTest, u"none", 256,
                                   app::settings::kTestingIni),
              u"none");
}

TEST_F(Settings, BrokenSettingsFilesGiveTheDefaults) {
    makeDataFolder();
    const std::string contents[] = {
        std::string("\0\0\xff\xfe\x01", 5),
        "printlog=1\r\n",  // no section at all
        "[Test]\r\nprintlog\r\n",
        "[Test]\r\nprintlog=abc\r\n",
    };
    const int expected[] = {0, 0, 0, 0};
    for (size_t i = 0; i < std::size(contents); ++i) {
        write("appdata/Lumora Video/Orvix/OvUpdate.ini", contents[i]);
        EXPECT_EQ(app::settings::readInt(app::settings::kSectionTest, app::settings::kKeyPrintLog, 0, app::settings::kOvUpdateIni),
                  expected[i])
            << i;
    }
#ifdef _WIN32
    return;  // the size limit is the POSIX profile reader's; Windows reads any size
#endif
    // Far larger than any settings file: read as missing, quickly.
    write("appdata/Lumora Video/Orvix/OvUpdate.ini", "[Test]\r\nprintlog=1\r\n" + std::string(20 << 20, 'x'));
    EXPECT_EQ(app::settings::readInt(app::settings::kSectionTest, app::settings::kKeyPrintLog, 0, app::settings::kOvUpdateIni), 0);
}

// The optional cap on background downloads: a positive number of bytes per second, else none.
TEST_F(Settings, DeploymentMayCapTheReceiveRate) {
    struct Case {
        const char* line;
        int64_t cap;
    } cases[] = {{"", 0}, {"maxbytespersecond=65536\r\n", 65536}, {"maxbytespersecond=-5\r\n", 0},
                 {"maxbytespersecond=fast\r\n", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        write("deploy.ini", std::string("[servers]\r\n") + c.line);
        EXPECT_EQ(app::deploy::loadServers(agentPath("deploy.ini")).maxReceiveBytesPerSecond, c.cap);
    }
}
