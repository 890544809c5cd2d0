#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "app/md5.h"
#include "decision/decision_fixture.h"
#include "fetch/partial_file.h"

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

// The package folder keeps at most the partial its newest sound record names, younger than
// a week, and once the run knows its package, only that package's partial.
TEST_F(PackageDecision, PartialsWithoutAPurposeAreRemoved) {
    using Files = std::vector<std::string>;
    struct Case {
        const char* what;
        Files records;     // targets with a record and a partial of 10 bytes
        Files strays;      // other files present
        const char* aged;  // a target whose files are eight days old, "" none
        const char* keep;  // the run's package, nullptr: only the start-of-run clean-up
        Files left;
    };
    std::vector<Case> cases = {
        {"one sound pair stays, strays go", {"a.exe"}, {"b.exe.partial", "c.exe.partial.rec", "d.exe.4.part", "notes.txt"},
         "", nullptr, {"a.exe.partial", "a.exe.partial.rec", "notes.txt"}},
        {"the newer of two records", {"a.exe", "b.exe"}, {}, "a.exe", nullptr, {"b.exe.partial", "b.exe.partial.rec"}},
        {"older than a week", {"a.exe"}, {}, "a.exe", nullptr, {}},
        {"another package is downloaded", {"a.exe"}, {}, "", "b.exe", {}},
        {"the package downloaded keeps its partial", {"a.exe"}, {}, "", "A.EXE", {"a.exe.partial", "a.exe.partial.rec"}},
        {"no download keeps none", {"a.exe"}, {}, "", "", {}},
    };
    std::u16string folder = app::settings::dataFolder() + u"\\OvUpdate";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(saveFolder());
        fs::create_directories(saveFolder());
        for (const std::string& target : c.records) {
            writeFile(saveFolder() / (target + ".partial"), "0123456789");
            std::u16string path = folder + u"\\" + text::fromUtf8(target);
            ASSERT_TRUE(fetch::writePartialRecord(path, {u"http://a/p", "\"v\"", 100, 10}));
        }
        for (const std::string& stray : c.strays) writeFile(saveFolder() / stray, "x");
        if (*c.aged) {
            auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 8);
            for (const char* suffix : {".partial", ".partial.rec"})
                fs::last_write_time(saveFolder() / (std::string(c.aged) + suffix), old);
        }
        if (c.keep) fetch::keepOnlyPartialOf(folder, text::fromUtf8(c.keep));
        else fetch::tidyPartials(folder);
        Files left;
        for (const auto& e : fs::directory_iterator(saveFolder())) left.push_back(e.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, c.left);
    }
}
