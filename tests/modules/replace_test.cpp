// The swap on its own, from a staging list laid out by hand.
#include <algorithm>

#include "app/sha256.h"
#include "modules_fixture.h"

namespace modulestest {
namespace {

class Replace : public ModuleTest {
protected:
    // Stages content for name and lists it; oldFile overrides the list's "OldFile", sha256
    // is listed when given.
    void stage(const std::string& name, const std::string& content, std::string oldFile = "",
               const std::string& sha256 = "") {
        std::string relative = name;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        fs::path staged = work() / "bin" / relative;
        writeFile(staged, content);
        if (oldFile.empty()) oldFile = narrow(agentPath(installed(name)));
        std::string sha = sha256.empty() ? "" : " sha256=\"" + sha256 + "\"";
        m_list += "<File md5=\"" + md5(content) + "\"" + sha + " OldFile=\"" + oldFile + "\" NewFile=\"" +
                  narrow(agentPath(staged)) + "\"/>";
        writeFile(work() / "update.pre.xml",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root>" + m_list + "</root>");
    }
    int replace() { return m_updater.ReplaceFiles(agentPath(player())); }
    std::string m_list;
};

TEST_F(Replace, NothingToDo) {
    EXPECT_EQ(replace(), 0);
    EXPECT_TRUE(logged("replace: path " + narrow(agentPath(player())) + " has not OvUpdate dir return"));
    fs::create_directories(work() / "bin");
    EXPECT_EQ(replace(), 0);
    EXPECT_FALSE(fs::exists(work()));
    writeFile(work() / "update.pre.xml", "<root/>");
    EXPECT_EQ(replace(), 0);
    EXPECT_TRUE(logged("replace: update info empty"));
}

TEST_F(Replace, SwapsInNewAndChangedFilesAndSweepsOldOnes) {
    install("a.dll", "old a");
    install("b.dll", "old b");
    install("b.dll.bak", "old b");  // left by a swap that was cut short
    std::filesystem::rename(installed("b.dll"), installed("b.dll.bak"));
    install("deep\\X.OLD", "retired");
    install("keep.txt", "mine");
    stage("a.dll", "new a");
    stage("b.dll", "new b");
    stage("brand\\new.dll", "new module");  // nothing installed yet, folder missing
    EXPECT_EQ(replace(), 3);
    EXPECT_TRUE(logged("replace count 3 success"));
    EXPECT_EQ(contentOf("a.dll"), "new a");
    EXPECT_EQ(contentOf("b.dll"), "new b");
    EXPECT_EQ(contentOf("brand\\new.dll"), "new module");
    EXPECT_EQ(contentOf("keep.txt"), "mine");
    EXPECT_TRUE(backupsLeft().empty());
    EXPECT_FALSE(fs::exists(work()));
}

TEST_F(Replace, FailureRestoresEveryBackup) {
    install("a.dll", "old a");
    install("b.dll", "old b");
    stage("a.dll", "new a");
    stage("b.dll", "new b");
    fs::remove(work() / "bin" / "b.dll");  // staged file vanished
    EXPECT_EQ(replace(), -1);
    EXPECT_EQ(contentOf("a.dll"), "old a");
    EXPECT_EQ(contentOf("b.dll"), "old b");
    EXPECT_TRUE(backupsLeft().empty());
    EXPECT_TRUE(logged("replace files failed, begin rollback"));
    EXPECT_TRUE(fs::exists(work() / "update.pre.xml"));
}

// A staged file that matches the MD5 the staging list recorded but not its SHA-256 (a
// signed deployment records one for every file) fails the swap, which is rolled back.
TEST_F(Replace, RecordedSha256IsCheckedBeforeTheFileMovesIn) {
    install("a.dll", "old a");
    install("b.dll", "old b");
    stage("a.dll", "new a", "", app::sha256OfBuffer("new a", 5));
    stage("b.dll", "new b", "", app::sha256OfBuffer("new c", 5));
    EXPECT_EQ(replace(), -1);
    EXPECT_EQ(contentOf("a.dll"), "old a");
    EXPECT_EQ(contentOf("b.dll"), "old b");
    EXPECT_TRUE(backupsLeft().empty());
}

TEST_F(Replace, ListPointingOutsideThePlayerIsRefused) {
    writeFile(m_sandbox.path() / "outside.txt", "not the player's");
    install("a.dll", "old a");
    stage("a.dll", "new a");
    stage("x.dll", "evil", narrow(agentPath((player() / ".." / "outside.txt"))));
    EXPECT_EQ(replace(), 0);
    EXPECT_TRUE(logged("replace: parse " + narrow(agentPath(work())) + "/update.pre.xml failed return"));
    EXPECT_EQ(readFile(m_sandbox.path() / "outside.txt"), "not the player's");
    EXPECT_EQ(contentOf("a.dll"), "old a");
}

}  // namespace
}  // namespace modulestest
