// Whole module-update runs in this process against the local module source: staging,
// swap, clean-up, and that every failure leaves the installed files as they were.
#ifndef _WIN32
#include <unistd.h>
#endif

#include "modules_fixture.h"
#include "platform/files.h"
#include "support/unmovable_file.h"

namespace modulestest {
namespace {

class ModuleRun : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        install("codec.dll", "old codec");
        install("plugins\\subtitle.dll", "old subtitle");
        install("skin.dat", "skin 1");
        publishConfig("<up sdir=\"" + server().url("/m1") + "\" percent=\"100\"/>");
    }
    void publishWith(const Module& codec, const std::string& subtitle = "new subtitle") {
        publish("m1", {codec, {"plugins\\subtitle.dll", subtitle}, {"skin.dat", "skin 1"}});
    }
    void expectUntouched() {
        EXPECT_EQ(contentOf("codec.dll"), "old codec");
        EXPECT_EQ(contentOf("plugins\\subtitle.dll"), "old subtitle");
        EXPECT_EQ(contentOf("skin.dat"), "skin 1");
        EXPECT_TRUE(backupsLeft().empty());
    }
    bool loggedPrefix(const std::string& prefix) const {
        for (const auto& l : m_log)
            if (l.rfind(prefix, 0) == 0) return true;
        return false;
    }
};

TEST_F(ModuleRun, SwapsChangedModulesOnceAndLeavesNothingBehind) {
    publishWith({"codec.dll", "new codec"});
    EXPECT_TRUE(m_updater.RunModuleUpdate(u"abc"));
    EXPECT_EQ(contentOf("codec.dll"), "new codec");
    EXPECT_EQ(contentOf("plugins\\subtitle.dll"), "new subtitle");
    EXPECT_EQ(server().hits("/m1/bin/skin.dat.zip"), 0);
    EXPECT_TRUE(logged("CheckAndDownloadModulesByList 2 files need update, use time:0") ||
                loggedPrefix("CheckAndDownloadModulesByList 2 files need update"));
    EXPECT_TRUE(logged("replace count 2 success"));
    EXPECT_FALSE(fs::exists(work()));
    EXPECT_TRUE(backupsLeft().empty());

    m_log.clear();
    ModuleUpdater again;
    again.setLogging(true);
    again.setLogSink([this](const std::u16string& line) { m_log.push_back(narrow(line)); });
    EXPECT_TRUE(again.RunModuleUpdate(u"abc"));
    EXPECT_TRUE(loggedPrefix("CheckAndDownloadModulesByList 0 files need update"));
    EXPECT_FALSE(loggedPrefix("replace count"));
    EXPECT_EQ(server().hits("/m1/bin/codec.dll.zip"), 1);
    EXPECT_FALSE(fs::exists(work()));
}

TEST_F(ModuleRun, BadArchivesFailBeforeTheSwap) {
    struct Case {
        const char* what;
        std::string archive;
        const char* line;
    } cases[] = {
        {"unpacked digest wrong", makeZip({{"codec.dll", "tampered"}}), nullptr},
        {"two entries", makeZip({{"codec.dll", "new codec"}, {"extra.txt", "x"}}), "UnZipOneFile"},
        {"bomb", makeBombZip("codec.dll", 1024, 64u << 20), "UnZipOneFile"},
        {"entry climbs out", makeZip({{"../../../../evil.dll", "new codec"}}), "UnZipOneFile"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_log.clear();
        publishWith({"codec.dll", "new codec", c.archive});
        EXPECT_FALSE(m_updater.RunModuleUpdate(u"abc"));
        expectUntouched();
        if (c.line) {
            EXPECT_TRUE(loggedPrefix(c.line));
        }
        EXPECT_TRUE(logged("Update finish failed\r\n"));
        EXPECT_FALSE(loggedPrefix("replace files start"));
        EXPECT_FALSE(fs::exists(work() / "bin" / "codec.dll.zip"));  // a failed unpack drops its archive
        for (const auto& entry : fs::recursive_directory_iterator(m_sandbox.path()))
            EXPECT_LE(fs::is_regular_file(entry) ? fs::file_size(entry) : 0, 1u << 20) << entry.path();
        EXPECT_FALSE(fs::exists(m_sandbox.path().parent_path() / "evil.dll"));
    }
}

TEST_F(ModuleRun, OnlyFailedTransfersAreTriedAgain) {
    publishWith({"codec.dll", "new codec"});
    server().serve(archiveRoute("m1", "codec.dll"), {makeZip({{"codec.dll", "other bytes"}})});
    EXPECT_FALSE(m_updater.RunModuleUpdate(u"abc"));
    EXPECT_EQ(server().hits("/m1/bin/codec.dll.zip"), 1);  // a wrong archive is not fetched again
    EXPECT_FALSE(fs::exists(work() / "bin" / "codec.dll.zip"));  // nor kept

    // A body cut short leaves nothing of itself.
    std::string archive = makeZip({{"codec.dll", "new codec"}});
    server().serve(archiveRoute("m1", "codec.dll"),
                   testsupport::Reply{archive, 200, {}, testsupport::Delivery::CutShort, archive.size() / 2});
    EXPECT_FALSE(m_updater.RunModuleUpdate(u"abc"));
    EXPECT_FALSE(fs::exists(work() / "bin" / "codec.dll.zip"));

    server().serve(archiveRoute("m1", "codec.dll"), {"", 404});
    EXPECT_FALSE(m_updater.RunModuleUpdate(u"abc"));
    EXPECT_EQ(server().hits("/m1/bin/codec.dll.zip"), 1 + 3 + 3);
    EXPECT_TRUE(logged("2 times download 1 file"));
    expectUntouched();
}

TEST_F(ModuleRun, PlayerPrefixIsCheckedInItsFolderButSwappedIntoThePlayerFolder) {
    install("Orvix\\x.dll", "old x");
    publish("m1", {{".\\Orvix\\x.dll", "new x"}});
    server().serve("/m1/bin/Orvix/x.dll.zip", {makeZip({{"x.dll", "new x"}})});  // the "." step is resolved
    EXPECT_TRUE(m_updater.RunModuleUpdate(u"abc"));
    EXPECT_EQ(contentOf("x.dll"), "new x");
    EXPECT_EQ(contentOf("Orvix\\x.dll"), "old x");
}

TEST_F(ModuleRun, HostileModuleNamesAreRefusedBeforeAnythingIsWritten) {
    for (const char* name : {"..\\..\\evil.dll", "sub\\.\\Orvix\\..\\..\\evil.dll", "C:\\evil.dll"}) {
        SCOPED_TRACE(name);
        m_log.clear();
        publish("m1", {{"codec.dll", "new codec"}, {name, "evil"}});
        EXPECT_FALSE(m_updater.RunModuleUpdate(u"abc"));
        EXPECT_TRUE(loggedPrefix("ParseUpdateModuleList"));
        EXPECT_EQ(server().hits("/m1/bin/codec.dll.zip"), 0);
        expectUntouched();
        EXPECT_FALSE(fs::exists(m_sandbox.path() / "evil.dll"));
        EXPECT_FALSE(fs::exists(m_sandbox.path().parent_path() / "evil.dll"));
    }
}

TEST_F(ModuleRun, StagedFileChangedBeforeTheSwapIsRolledBack) {
    publishWith({"codec.dll", "new codec"});
    m_updater.setPlayerFolder(agentPath(player()));
    ASSERT_TRUE(m_updater.DoUpdateNow(u(server().url("/m1")), agentPath(player())));
    writeFile(work() / "bin" / "plugins" / "subtitle.dll", "changed on disk");
    EXPECT_EQ(m_updater.ReplaceFiles(agentPath(player())), -1);
    expectUntouched();
    EXPECT_TRUE(logged("replace files failed, rollback finish and return"));
    EXPECT_TRUE(fs::exists(work() / "update.pre.xml"));  // kept for a later attempt
}

TEST_F(ModuleRun, InstalledFileThatCannotMoveRollsBackTheSwap) {
    publishWith({"codec.dll", "new codec"});
    testsupport::UnmovableFile held(installed("plugins\\subtitle.dll"));
    if (!held.held()) GTEST_SKIP() << "cannot hold the installed file here";
    EXPECT_FALSE(m_updater.RunModuleUpdate(u"abc"));  // staged fine; the swap is rolled back
    EXPECT_TRUE(loggedPrefix("move " + narrow(agentPath(installed("plugins/subtitle.dll")))));
    EXPECT_TRUE(logged("replace files failed, rollback finish and return"));
    expectUntouched();
}

// Folders on the way that were already there keep their attributes; only new ones are made.
TEST_F(ModuleRun, CreateMultiDirectoryTouchesOnlyTheFoldersItCreates) {
#ifdef _WIN32
    GTEST_SKIP() << "Wine keeps no read-only attribute on folders to look at";
#else
    if (geteuid() != 0) GTEST_SKIP() << "a read-only folder takes new folders only for root here";
#endif
    std::u16string existing = agentPath(player());
    ASSERT_TRUE(plat::setFileAttributes(existing, plat::kAttributeReadOnly));
    EXPECT_TRUE(m_updater.CreateMultiDirectory(agentPath(player() / "new" / "deeper")));
    // The stand-in host keeps a folder's read-only attribute in its mode only.
    EXPECT_EQ(fs::status(player()).permissions() & fs::perms::owner_write, fs::perms::none);
    plat::setFileAttributes(existing, plat::kAttributeNormal);
    EXPECT_TRUE(fs::is_directory(player() / "new" / "deeper"));
}

TEST_F(ModuleRun, SwapCutShortIsRestoredThenFinishedByTheNextRun) {
    publishWith({"codec.dll", "new codec"});
    m_updater.setPlayerFolder(agentPath(player()));
    ASSERT_TRUE(m_updater.DoUpdateNow(u(server().url("/m1")), agentPath(player())));
    fs::rename(installed("codec.dll"), installed("codec.dll.bak"));  // the swap's first move

    // The source is gone for now: the installation is put back, not left without codec.dll.
    server().serve("/product/OvUpdate/upcfg.xml", {"", 404});
    EXPECT_FALSE(ModuleUpdater().RunModuleUpdate(u"abc"));
    expectUntouched();

    fs::rename(installed("codec.dll"), installed("codec.dll.bak"));
    publishConfig("<up sdir=\"" + server().url("/m1") + "\" percent=\"100\"/>");
    EXPECT_TRUE(m_updater.RunModuleUpdate(u"abc"));
    EXPECT_EQ(contentOf("codec.dll"), "new codec");
    EXPECT_EQ(contentOf("plugins\\subtitle.dll"), "new subtitle");
    EXPECT_EQ(server().hits("/m1/bin/codec.dll.zip"), 1);  // staged files were reused
    EXPECT_TRUE(backupsLeft().empty());
    EXPECT_FALSE(fs::exists(work()));
}

// After a swap that failed and was rolled back, the staging list and its files wait in the
// working folder. The next run swaps them in only while its module list asks for exactly
// those files with those digests; otherwise the list goes first and the installation ends
// as the new module list says, never with a file staged for an older one.
TEST_F(ModuleRun, StagingLeftByAnEarlierRunIsSwappedOnlyWhileTheListAsksForIt) {
    struct Case {
        const char* what;
        std::string installedCodec, installedSubtitle;  // when the next run starts
        std::string offeredCodec, offeredSubtitle;      // what its module list says
        bool stale;
        int fetched;  // archives the next run fetches
    } cases[] = {
        {"all current", "newer codec", "newer subtitle", "newer codec", "newer subtitle", true, 0},
        {"a newer codec", "old codec", "old subtitle", "newer codec", "new subtitle", true, 1},
        {"fewer files", "old codec", "old subtitle", "new codec", "old subtitle", true, 0},
        {"the same files", "old codec", "old subtitle", "new codec", "new subtitle", false, 0},
    };
    const std::string codecZip = archiveRoute("m1", "codec.dll");
    const std::string subtitleZip = archiveRoute("m1", "plugins\\subtitle.dll");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(work());
        install("codec.dll", "old codec");
        install("plugins\\subtitle.dll", "old subtitle");
        publishWith({"codec.dll", "new codec"});
        m_updater.setPlayerFolder(agentPath(player()));
        ASSERT_TRUE(m_updater.DoUpdateNow(u(server().url("/m1")), agentPath(player())));  // staged, not swapped

        install("codec.dll", c.installedCodec);
        install("plugins\\subtitle.dll", c.installedSubtitle);
        publishWith({"codec.dll", c.offeredCodec}, c.offeredSubtitle);
        int before = server().hits(codecZip) + server().hits(subtitleZip);
        m_log.clear();
        EXPECT_TRUE(m_updater.RunModuleUpdate(u"abc"));
        EXPECT_EQ(contentOf("codec.dll"), c.offeredCodec);
        EXPECT_EQ(contentOf("plugins\\subtitle.dll"), c.offeredSubtitle);
        EXPECT_EQ(loggedPrefix("stale staging list "), c.stale);
        EXPECT_EQ(server().hits(codecZip) + server().hits(subtitleZip) - before, c.fetched);
        EXPECT_FALSE(fs::exists(work()));
        EXPECT_TRUE(backupsLeft().empty());
    }
}

// A stale staging list whose swap still has a backup in place is not taken away: nothing
// else knows where that backup belongs.
TEST_F(ModuleRun, StaleStagingListWithABackupInPlaceStopsTheStage) {
    publishWith({"codec.dll", "new codec"});
    m_updater.setPlayerFolder(agentPath(player()));
    ASSERT_TRUE(m_updater.DoUpdateNow(u(server().url("/m1")), agentPath(player())));
    install("codec.dll.bak", "old codec");
    publishWith({"codec.dll", "newer codec"});
    m_log.clear();
    EXPECT_FALSE(m_updater.DoUpdateNow(u(server().url("/m1")), agentPath(player())));
    EXPECT_TRUE(loggedPrefix("stale staging list "));
    EXPECT_TRUE(fs::exists(work() / "update.pre.xml"));
}

}  // namespace
}  // namespace modulestest

namespace modulestest {
namespace {

std::string patchElement(const std::string& from, const std::string& patch, const std::string& href = {}) {
    return "<Patch file=\"codec.dll\" from=\"" + md5(from) + "\" size=\"" + std::to_string(patch.size()) +
           "\" md5=\"" + md5(patch) + "\" href=\"" + (href.empty() ? "bin/codec.dll." + md5(from) + ".patch" : href) +
           "\"/>\r\n";
}

// A changed module is built from its patch when one applies to the installed file; any
// doubt about the patch sends that run to the full archive, which it takes at once, and
// the module ends right either way. A failed patch is fetched once, never again.
TEST_F(ModuleRun, PatchIsTakenWhenSoundAndTheFullArchiveOtherwise) {
    const std::string good = onePatch("old codec", "new codec");
    std::string damaged = good;
    damaged[40] = static_cast<char>(damaged[40] ^ 0x55);
    std::string garbage = "OVPATCH1" + std::string(24, '\x7f') + "not zstd";
    struct Case {
        const char* what;
        std::string served;  // at the patch's place; empty: nothing there
        std::string listed;  // the Patch element
        const char* line;    // the patch's line in the log
        int patchHits, archiveHits;
    } cases[] = {
        {"sound", good, patchElement("old codec", good), "patch of codec.dll applied: ", 1, 0},
        {"missing", "", patchElement("old codec", good), "patch of codec.dll not taken (download failed)", 1, 1},
        {"damaged", damaged, patchElement("old codec", good), "patch of codec.dll not taken (patch digest or size wrong)", 1, 1},
        {"larger than listed", good + good, patchElement("old codec", good), "patch of codec.dll not taken (download failed)", 1, 1},
        {"from another file", good, patchElement("older codec", good), "patch of codec.dll not taken (none applies to the installed file)", 0, 1},
        {"result differs", onePatch("old codec", "bad codec"), patchElement("old codec", onePatch("old codec", "bad codec")),
         "patch of codec.dll not taken (result differs from the listed file)", 1, 1},
        {"no patch of ours", garbage, patchElement("old codec", garbage), "patch of codec.dll not taken (patch unusable: ", 1, 1},
        {"another place", good, patchElement("old codec", good, "bin/other.patch"), "", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server().clear();
        install("codec.dll", "old codec");
        install("plugins\\subtitle.dll", "old subtitle");
        publishConfig("<up sdir=\"" + server().url("/m1") + "\" percent=\"100\"/>");
        publishWith({"codec.dll", "new codec", "", c.listed});
        const std::string route = "/m1/bin/codec.dll." + md5("old codec") + ".patch";
        if (!c.served.empty()) server().serve(route, {c.served});
        m_log.clear();
        ModuleUpdater run;
        run.setLogging(true);
        run.setLogSink([this](const std::u16string& line) { m_log.push_back(narrow(line)); });
        EXPECT_TRUE(run.RunModuleUpdate(u"abc"));
        EXPECT_EQ(contentOf("codec.dll"), "new codec");
        EXPECT_EQ(contentOf("plugins\\subtitle.dll"), "new subtitle");
        EXPECT_EQ(server().hits(route), c.patchHits);
        EXPECT_EQ(server().hits("/m1/bin/codec.dll.zip"), c.archiveHits);
        if (*c.line) {
            EXPECT_TRUE(loggedPrefix(c.line));
        }
        EXPECT_TRUE(logged("replace count 2 success"));
        EXPECT_FALSE(fs::exists(work()));
    }
}

// A list with patches gives today's reader exactly the entries of the same list without
// them; only the patch reader finds the patches.
TEST_F(ModuleRun, ListWithPatchesReadsAsBeforeWithoutThem) {
    const std::string plain =
        "<root>\r\n<File md5=\"" + md5("new codec") + "\" zipmd5=\"" + md5("z") + "\">codec.dll</File>\r\n"
        "<File md5=\"" + md5("s") + "\" zipmd5=\"" + md5("y") + "\">plugins\\subtitle.dll</File>\r\n</root>\r\n";
    std::string patched = plain;
    patched.insert(patched.find("<File md5=\"" + md5("s")), patchElement("old codec", "p"));
    std::string base = narrow(agentPath(player())), staging = base + "\\OvUpdate\\bin";
    std::vector<ModuleEntry> before, after;
    ModuleUpdater reader;
    reader.setPlayerFolder(agentPath(player()));
    ASSERT_TRUE(reader.ParseUpdateModuleList(u"http://h/m1", u(base), plain, u(staging), before));
    ASSERT_TRUE(reader.ParseUpdateModuleList(u"http://h/m1", u(base), patched, u(staging), after));
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].name, before[i].name);
        EXPECT_EQ(after[i].md5, before[i].md5);
        EXPECT_EQ(after[i].zipMd5, before[i].zipMd5);
        EXPECT_EQ(after[i].archiveUrl, before[i].archiveUrl);
        EXPECT_EQ(after[i].stagedPath, before[i].stagedPath);
        EXPECT_TRUE(after[i].patches.empty());
    }
    ModuleUpdater::readModulePatches(patched, u"http://h/m1", after);
    ASSERT_EQ(after[0].patches.size(), 1u);
    EXPECT_EQ(narrow(after[0].patches[0].url), "http://h/m1/bin/codec.dll." + md5("old codec") + ".patch");
    EXPECT_TRUE(after[1].patches.empty());
}

}  // namespace
}  // namespace modulestest
