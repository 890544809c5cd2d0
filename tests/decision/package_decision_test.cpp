#include <gtest/gtest.h>

#include "app/md5.h"
#include "decision/driver_fixture.h"

namespace fs = std::filesystem;

namespace {

constexpr char kAnyFile[] = "<file name='absent.dll' path='9'/>";

class PackageDecision : public DriverTest {
protected:
    std::string element(const std::string& name, const std::string& attributes) {
        return "<update name='" + name + "' " + attributes + ">" + kAnyFile + "</update>";
    }
    void walk(const std::string& children) { evaluate("<info>" + children + "</info>"); }
};

}  // namespace

TEST_F(PackageDecision, ElementOutsideItsShareLetsTheNextOneBeTaken) {
    // abc lands on 83.
    walk(element("first.exe", "probability='83'") + element("second.exe", "probability='84'"));
    EXPECT_EQ(m_driver.m_runStatus, kRunDownloadFailed);  // a download was started
    EXPECT_EQ(m_driver.m_update.name, u"second.exe");

    walk(element("only.exe", "probability='83'"));
    EXPECT_EQ(m_driver.m_runStatus, kRunNoUpdate);
}

TEST_F(PackageDecision, PackageOnDiskIsCheckedInsteadOfTheRollout) {
    std::string package = "installer bytes";
    std::string md5 = md5OfBuffer(package.data(), package.size());
    writeFile(saveFolder() / "setup.exe", package);

    // Right digest, in any letter case: taken as it is, even outside the share.
    std::string upper = text::toUtf8(text::toUpper(text::fromUtf8(md5)));
    walk(element("setup.exe", "probability='0' md5='" + upper + "'"));
    EXPECT_EQ(m_driver.m_runStatus, kRunPackagePresent);
    EXPECT_TRUE(fs::exists(saveFolder() / "setup.exe"));

    // Wrong digest: deleted and downloaded again, without a rollout test.
    walk(element("setup.exe", "probability='0' md5='00000000000000000000000000000000'"));
    EXPECT_EQ(m_driver.m_runStatus, kRunDownloadFailed);
    EXPECT_FALSE(fs::exists(saveFolder() / "setup.exe"));

    // An empty file never matches.
    writeFile(saveFolder() / "empty.exe", "");
    walk(element("empty.exe", "md5='d41d8cd98f00b204e9800998ecf8427e'"));
    EXPECT_EQ(m_driver.m_runStatus, kRunDownloadFailed);
}

TEST_F(PackageDecision, RecentFilesKeepMatchingPackagesOnly) {
    for (const char* name : {"setup_2.exe", "SETUP_2_OLD.EXE", "other.exe", "temp/other.exe", "temp/setup_2.tmp"})
        writeFile(saveFolder() / name, "x");
    walk("<recentfile><f> Setup_2 </f></recentfile>");
    EXPECT_TRUE(fs::exists(saveFolder() / "setup_2.exe"));
    EXPECT_TRUE(fs::exists(saveFolder() / "SETUP_2_OLD.EXE"));
    EXPECT_TRUE(fs::exists(saveFolder() / "temp/setup_2.tmp"));
    EXPECT_FALSE(fs::exists(saveFolder() / "other.exe"));
    EXPECT_FALSE(fs::exists(saveFolder() / "temp/other.exe"));
}

TEST_F(PackageDecision, EmptyRecentFileEntryKeepsEverything) {
    writeFile(saveFolder() / "other.exe", "x");
    walk("<recentfile><f>nothing-like-it</f><f></f></recentfile>");
    EXPECT_TRUE(fs::exists(saveFolder() / "other.exe"));
    EXPECT_EQ(m_driver.m_recentFiles.size(), 2u);
}
