#include <gtest/gtest.h>

#include "app/md5.h"
#include "decision/decision_fixture.h"

using fetch::Verdict;

namespace {

constexpr char kAnyFile[] = "<file name='absent.dll' path='9'/>";

class PackageDecision : public DriverTest {
protected:
    std::string element(const std::string& name, const std::string& attributes) {
        return "<update name='" + name + "' " + attributes + ">" + kAnyFile + "</update>";
    }
    decision::RunDecision walkChildren(const std::string& children) {
        return walk("<info>" + children + "</info>");
    }
};

}  // namespace

TEST_F(PackageDecision, ElementOutsideItsShareLetsTheNextOneBeTaken) {
    // abc lands on 83.
    decision::RunDecision d =
        walkChildren("<Domain><d>http://a</d></Domain>" + element("first.exe", "probability='83'") +
                     element("second.exe", "probability='84'"));
    EXPECT_EQ(d.verdict, Verdict::Download);
    EXPECT_EQ(d.job.package.name, u"second.exe");
    // Everything the download needs goes with the package.
    EXPECT_EQ(d.job.domains, std::vector<std::u16string>{u"http://a"});
    EXPECT_EQ(d.job.saveDirectory, app::settings::dataFolder() + u"\\OvUpdate");
    EXPECT_EQ(d.job.clientId, u"abc");

    EXPECT_EQ(walkChildren(element("only.exe", "probability='83'")).verdict, Verdict::NoUpdate);
}

TEST_F(PackageDecision, PackageOnDiskIsCheckedInsteadOfTheRollout) {
    std::string package = "installer bytes";
    std::string md5 = app::md5OfBuffer(package.data(), package.size());
    writeFile(saveFolder() / "setup.exe", package);

    // Right digest, in any letter case: taken as it is, even outside the share.
    std::string upper = text::toUtf8(text::toUpper(text::fromUtf8(md5)));
    decision::RunDecision d = walkChildren(element("setup.exe", "probability='0' md5='" + upper + "'"));
    EXPECT_EQ(d.verdict, Verdict::PackagePresent);
    EXPECT_EQ(d.job.package.name, u"setup.exe");
    EXPECT_TRUE(fs::exists(saveFolder() / "setup.exe"));

    // Wrong digest: deleted and downloaded again, without a rollout test.
    d = walkChildren(element("setup.exe", "probability='0' md5='00000000000000000000000000000000'"));
    EXPECT_EQ(d.verdict, Verdict::Download);
    EXPECT_FALSE(fs::exists(saveFolder() / "setup.exe"));

    // An empty file never matches.
    writeFile(saveFolder() / "empty.exe", "");
    EXPECT_EQ(walkChildren(element("empty.exe", "md5='d41d8cd98f00b204e9800998ecf8427e'")).verdict,
              Verdict::Download);
}

TEST_F(PackageDecision, RecentFilesKeepMatchingPackagesOnly) {
    for (const char* name : {"setup_2.exe", "SETUP_2_OLD.EXE", "other.exe", "temp/other.exe", "temp/setup_2.tmp"})
        writeFile(saveFolder() / name, "x");
    walkChildren("<recentfile><f> Setup_2 </f></recentfile>");
    EXPECT_TRUE(fs::exists(saveFolder() / "setup_2.exe"));
    EXPECT_TRUE(fs::exists(saveFolder() / "SETUP_2_OLD.EXE"));
    EXPECT_TRUE(fs::exists(saveFolder() / "temp/setup_2.tmp"));
    EXPECT_FALSE(fs::exists(saveFolder() / "other.exe"));
    EXPECT_FALSE(fs::exists(saveFolder() / "temp/other.exe"));
}

TEST_F(PackageDecision, EmptyRecentFileEntryKeepsEverything) {
    writeFile(saveFolder() / "other.exe", "x");
    walkChildren("<recentfile><f>nothing-like-it</f><f></f></recentfile>");
    EXPECT_TRUE(fs::exists(saveFolder() / "other.exe"));
}

// The walk ends at the element it takes: a recentfile after it is never read, one after an
// element it passes over is.
TEST_F(PackageDecision, RecentFileAfterTheTakenElementIsNeverRead) {
    const std::string recent = "<recentfile><f>keep</f></recentfile>";
    writeFile(saveFolder() / "other.exe", "x");
    EXPECT_EQ(walkChildren(element("p.exe", "") + recent).verdict, Verdict::Download);
    EXPECT_TRUE(fs::exists(saveFolder() / "other.exe"));

    EXPECT_EQ(walkChildren(element("p.exe", "probability='0'") + recent).verdict, Verdict::NoUpdate);
    EXPECT_FALSE(fs::exists(saveFolder() / "other.exe"));
}
