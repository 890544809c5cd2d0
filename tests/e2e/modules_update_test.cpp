// Background runs of the real agent in which no installer applies, so they go on to the
// module update: changed modules are swapped in from a local module source, and a source
// or an installation that is wrong in any way leaves the installed files as they were.
#include <functional>
#include <iostream>

#include "app/md5.h"
#include "e2e/e2e_fixture.h"
#include "support/unmovable_file.h"
#include "support/zip_archive.h"

using namespace e2e;

namespace {

std::string md5(const std::string& s) { return app::md5OfBuffer(s.data(), s.size()); }

// The player's modules as the list names them, in this order: codec.dll and
// plugins\subtitle.dll have changed, skin.dat is up to date.
struct Module {
    std::string name;  // in the list, with "\"
    std::string path;  // below the player folder (and the source's bin folder)
    std::string installed;
    std::string offered;
    std::string served = {};  // below the source's bin folder, when not path

    std::string archive() const { return "/m/bin/" + (served.empty() ? path : served) + ".zip"; }
};
const Module kCodec{"codec.dll", "codec.dll", "old codec", "new codec"};
const Module kSubtitle{"plugins\\subtitle.dll", "plugins/subtitle.dll", "old subtitle", "new subtitle"};
const Module kSkin{"skin.dat", "skin.dat", "skin 1", "skin 1"};
const Module* const kModules[] = {&kCodec, &kSubtitle, &kSkin};
// A module the player does not have yet.
const Module kNewPlugin{"new.dll", "new.dll", "", "new plugin"};

// A sandbox with the player installed and a server that is every domain: an installer
// document in which nothing applies, upcfg.xml pointing at the module source under /m.
class ModulesWorld {
public:
    ModulesWorld() {
        m_box.installPlayer();
        m_box.setPrintLog(1);
        std::string base = m_http.base();
        m_box.setServers(base, base);
        put("/product/OvUpdate/OvUpdate.xml",
            "<?xml version='1.0' encoding='utf-8'?><info><update name='off.exe' enable='0'>"
            "<file name='Orvix.exe' path='1'/></update></info>");
        put("/product/OvUpdate/upcfg.xml",
            "<root><updates><up sdir='" + base + "/m' percent='100'/></updates></root>");
        for (const Module* m : kModules) listLast(*m);
    }
    // One more module in the list, first or last; installed as m.installed unless that is
    // empty (a module the player does not have yet).
    void listFirst(const Module& m) { enlist(m, m_listed.begin()); }
    void listLast(const Module& m) { enlist(m, m_listed.end()); }
    // The module's archive becomes archive; the list keeps the digest of the offered file
    // and gets the archive's own, so that the archive itself passes its check.
    void replaceArchive(const Module& m, const std::string& archive) {
        m_archives[m.name] = archive;
        publish();
    }
    void unlist(const Module& m) {
        m_listed.erase(std::find(m_listed.begin(), m_listed.end(), &m));
        publish();
    }
    void addToList(const std::string& element) {
        m_extraElements += element;
        publish();
    }

    std::vector<std::string> runAgent() { return runToEnd(m_box); }

    int archiveHits(const Module& m) const { return m_http.hits(m.archive()); }
    std::vector<std::string> requests() const { return requestedPaths(m_http); }

    fs::path player() const { return m_box.playerFolder(); }
    std::string installed(const Module& m) const { return readFile(player() / m.path); }
    // Every installed file with its content (the working folder left out).
    std::map<std::string, std::string> installation() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(player()))
            if (entry.is_regular_file() &&
                entry.path().lexically_relative(player()).begin()->string() != "OvUpdate")
                files[entry.path().lexically_relative(player()).generic_string()] = readFile(entry.path());
        return files;
    }
    std::vector<std::string> backupsLeft() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(player())) {
            std::string ext = entry.path().extension().string();
            if (ext == ".bak" || ext == ".old") found.push_back(entry.path().generic_string());
        }
        return found;
    }

    AgentSandbox m_box;

private:
    void put(const std::string& path, const std::string& body) { m_http.serve(path, Reply{body}); }
    void enlist(const Module& m, std::vector<const Module*>::iterator at) {
        if (!m.installed.empty()) writeFile(player() / m.path, m.installed);
        m_listed.insert(at, &m);
        m_archives[m.name] = testsupport::makeZip({{fs::path(m.path).filename().string(), m.offered}});
        publish();
    }
    void publish() {
        std::string list = "<?xml version='1.0' encoding='UTF-8'?>\r\n<root>\r\n";
        for (const Module* m : m_listed) {
            const std::string& archive = m_archives[m->name];
            put(m->archive(), archive);
            list += "<File md5='" + md5(m->offered) + "' zipmd5='" + md5(archive) + "'>" + m->name + "</File>\r\n";
        }
        put("/m/update.xml", list + m_extraElements + "</root>\r\n");
    }
    HttpServer m_http;
    std::vector<const Module*> m_listed;
    std::map<std::string, std::string> m_archives;
    std::string m_extraElements;
};

class ModulesUpdate : public ::testing::Test, public ModulesWorld {};

}  // namespace

// The changed modules (one in a sub-folder) are swapped in, the up-to-date one is not
// fetched, the backups and the working folder are gone afterwards; a second run finds
// nothing to do.
TEST_F(ModulesUpdate, ChangedModulesAreSwappedInAndASecondRunHasNothingToDo) {
    std::vector<std::string> lines = runAgent();
    EXPECT_TRUE(inOrder(lines, {"replace new files start", "replace new files success", "replace count 2 success",
                                "静默升级完成"}));
    EXPECT_EQ(installed(kCodec), kCodec.offered);
    EXPECT_EQ(installed(kSubtitle), kSubtitle.offered);
    EXPECT_EQ(archiveHits(kCodec), 1);
    EXPECT_EQ(archiveHits(kSubtitle), 1);
    EXPECT_EQ(archiveHits(kSkin), 0);
    EXPECT_FALSE(fs::exists(player() / "OvUpdate"));
    EXPECT_TRUE(backupsLeft().empty());

    m_box.removeLogs();
    lines = runAgent();
    EXPECT_TRUE(loggedPrefix(lines, "CheckAndDownloadModulesByList 0 files need update"));
    EXPECT_EQ(archiveHits(kCodec), 1);
    EXPECT_FALSE(fs::exists(player() / "OvUpdate"));
    EXPECT_TRUE(backupsLeft().empty());
}

// Whatever is wrong with the source, the run ends by itself before anything is swapped,
// and nothing is written outside the player folder.
TEST(ModulesUpdateRefused, BadSourceLeavesTheInstallation) {
    struct Case {
        const char* what;
        std::function<void(ModulesWorld&)> arrange;
        const char* line;  // the start of the line that tells why
        bool codecFetched;
        std::vector<std::string> notStaged;  // below the working folder's bin folder
    };
    std::vector<Case> cases = {
        {"archive unpacks to another file than listed",
         [](ModulesWorld& w) {
             w.replaceArchive(kSubtitle, testsupport::makeZip({{"subtitle.dll", "not the listed one"}}));
         },
         "CheckAndDownloadModulesByList failed",
         true,
         {}},
        {"archive holds two files",
         [](ModulesWorld& w) {
             w.replaceArchive(
                 kSubtitle, testsupport::makeZip({{"subtitle.dll", kSubtitle.offered}, {"readme.txt", "extra"}}));
         },
         "UnZipOneFile ",
         true,
         {"plugins/subtitle.dll", "plugins/readme.txt"}},
        {"entry climbs out of the staging folder",
         [](ModulesWorld& w) {
             w.replaceArchive(kCodec, testsupport::makeZip({{"../../../x", "escaped"}}));
         },
         "UnZipOneFile ",
         true,
         {}},
        {"entry claims gigabytes",
         [](ModulesWorld& w) {
             w.replaceArchive(kCodec, testsupport::makeBombZip("codec.dll", 3221225472u, 4096));
         },
         "UnZipOneFile ",
         true,
         {"codec.dll"}},
        {"list names a module outside the player folder",
         [](ModulesWorld& w) {
             w.addToList(
                 "<File md5='00000000000000000000000000000000' zipmd5='00000000000000000000000000000000'>"
                 "..\\..\\x.dll</File>\r\n");
         },
         "ParseUpdateModuleList ",
         false,
         {}},
        {"module named through a sub-folder linked elsewhere",
         [](ModulesWorld& w) {
             fs::create_directories(w.m_box.path() / "elsewhere");
             fs::create_directory_symlink(w.m_box.path() / "elsewhere", w.player() / "linked");
             w.addToList(
                 "<File md5='00000000000000000000000000000000' zipmd5='00000000000000000000000000000000'>"
                 "linked\\x.dll</File>\r\n");
         },
         "ParseUpdateModuleList ",
         false,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModulesWorld world;
        std::map<std::string, std::string> before = world.installation();
        try {
            c.arrange(world);
        } catch (const fs::filesystem_error& e) {
            std::cerr << "case skipped, the host cannot arrange it: " << e.what() << "\n";
            continue;
        }
        std::vector<std::string> lines = world.runAgent();
        EXPECT_TRUE(loggedPrefix(lines, c.line));
        EXPECT_TRUE(logged(lines, "无需静默下载或静默失败"));
        EXPECT_FALSE(logged(lines, "replace new files start"));
        EXPECT_EQ(world.archiveHits(kCodec), c.codecFetched ? 1 : 0);
        EXPECT_EQ(world.installation(), before);
        EXPECT_TRUE(world.backupsLeft().empty());
        for (const std::string& request : world.requests()) EXPECT_EQ(request.find("x.dll"), std::string::npos);
        fs::path root = world.m_box.path();
        fs::path staging = world.player() / "OvUpdate" / "bin";
        for (const fs::path& folder :
             {root.parent_path(), root, root / "elsewhere", world.player(), world.player() / "OvUpdate", staging})
            for (const char* name : {"x", "x.dll"}) EXPECT_FALSE(fs::exists(folder / name)) << folder / name;
        for (const std::string& file : c.notStaged) EXPECT_FALSE(fs::exists(staging / file)) << file;
    }
}

// An installed file that cannot be moved aside stops the swap after codec.dll went in:
// codec.dll's backup is put back. Once the file is free, the next run swaps in the files
// it staged before.
TEST_F(ModulesUpdate, HeldFileRollsBackThenTheNextRunFinishes) {
    std::map<std::string, std::string> before = installation();
    listFirst(kNewPlugin);  // swapped in before the held file stops the swap
    std::string folder = windowsPath(player());
    {
        testsupport::UnmovableFile held(player() / kSubtitle.path);
        if (!held.held()) GTEST_SKIP() << "cannot hold an installed file here";
        std::vector<std::string> lines = runAgent();
        EXPECT_TRUE(inOrder(
            lines,
            {"replace new files start", "move " + folder + "\\codec.dll to " + folder + "\\codec.dll.bak success",
             "move " + folder + "\\plugins\\subtitle.dll to " + folder + "\\plugins\\subtitle.dll.bak failed",
             "replace files failed, begin rollback", "Rollback remove added " + folder + "\\new.dll success",
             "Rollback " + folder + "\\codec.dll.bak to " + folder + "\\codec.dll success",
             "replace files failed, rollback finish and return"}));
        EXPECT_FALSE(logged(lines, "replace new files success"));
        EXPECT_FALSE(logged(lines, "静默升级完成"));  // a rolled-back swap is a failed update
        EXPECT_TRUE(logged(lines, "无需静默下载或静默失败"));
    }
    EXPECT_EQ(installation(), before);
    EXPECT_TRUE(backupsLeft().empty());

    m_box.removeLogs();
    std::vector<std::string> lines = runAgent();
    EXPECT_TRUE(logged(lines, "replace count 3 success"));
    EXPECT_EQ(installed(kSubtitle), kSubtitle.offered);
    EXPECT_EQ(installed(kNewPlugin), kNewPlugin.offered);
    EXPECT_EQ(archiveHits(kSubtitle), 1);  // staged before, not fetched again
    EXPECT_EQ(archiveHits(kNewPlugin), 1);
    EXPECT_FALSE(fs::exists(player() / "OvUpdate"));
    EXPECT_TRUE(backupsLeft().empty());
}

// Sources and installations that once kept the stage from ever settling: each is updated
// within two runs, after which a run finds nothing to do.
TEST(ModulesUpdateSettles, OddSourcesAndInstallations) {
    static const Module kPrefixed{".\\Orvix\\x.dll", "x.dll", "old x", "new x", "Orvix/x.dll"};
    struct Case {
        const char* what;
        std::function<void(ModulesWorld&)> arrange;
        std::function<void(ModulesWorld&)> mend;  // between the first and the second run, if any
    };
    std::vector<Case> cases = {
        {"a name under .\\Orvix\\ is compared where it is installed",
         [](ModulesWorld& w) { w.listLast(kPrefixed); }, nullptr},
        {"the player executable is missing: the run goes on with the agent's own version",
         [](ModulesWorld& w) { fs::remove(w.m_box.playerExe()); }, nullptr},
        {"an archive whose entry is a folder named like the module, then the source is mended",
         [](ModulesWorld& w) {
             w.replaceArchive(kCodec, testsupport::makeZip({{"codec.dll/", "", false, -1, 0x10}}));
         },
         [](ModulesWorld& w) {
             w.replaceArchive(kCodec, testsupport::makeZip({{"codec.dll", kCodec.offered}}));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModulesWorld world;
        c.arrange(world);
        if (!fs::exists(world.m_box.playerExe())) {
            // The logger comes from the player's folder only while the player is there.
            EXPECT_EQ(world.m_box.run({}, 30000).exitCode, 0);
            EXPECT_EQ(world.installed(kCodec), kCodec.offered);
            EXPECT_EQ(world.installed(kSubtitle), kSubtitle.offered);
            EXPECT_TRUE(world.backupsLeft().empty());
            continue;
        }
        std::vector<std::string> lines = world.runAgent();
        if (c.mend) {
            EXPECT_TRUE(logged(lines, "无需静默下载或静默失败"));
            c.mend(world);
            world.m_box.removeLogs();
            lines = world.runAgent();
        }
        EXPECT_TRUE(logged(lines, "静默升级完成"));
        EXPECT_EQ(world.installed(kCodec), kCodec.offered);
        if (fs::exists(world.player() / kPrefixed.path)) {
            EXPECT_EQ(world.installed(kPrefixed), kPrefixed.offered);
            EXPECT_FALSE(fs::exists(world.player() / "Orvix" / "x.dll"));
        }
        world.m_box.removeLogs();
        lines = world.runAgent();
        EXPECT_TRUE(loggedPrefix(lines, "CheckAndDownloadModulesByList 0 files need update"));
        EXPECT_TRUE(world.backupsLeft().empty());
    }
}

#ifndef _WIN32
// A swap cut short at every step (the stand-in host ends the agent right after its n-th
// rename or delete in the player folder, as a crash or power cut would): the next run,
// even one that never gets to the module update, leaves every module wholly old or
// wholly new, and the run after that finishes the update. The player executable itself
// and a module the player did not have are among the swapped files.
TEST(ModulesUpdateCrash, SwapCutShortAtEveryStepIsUndoneAtTheNextStart) {
    static const Module kPlayerExe{"Orvix.exe", "Orvix.exe", "old player", "new player"};
    bool finished = false;
    for (int step = 1; !finished && step < 60; ++step) {
        SCOPED_TRACE("cut after step " + std::to_string(step));
        ModulesWorld world;
        world.listFirst(kNewPlugin);
        world.listLast(kPlayerExe);
        std::map<std::string, std::string> old = world.installation();
        world.m_box.setEnv("OVUPDATE_TEST_EXIT_UNDER", world.player().string());
        world.m_box.setEnv("OVUPDATE_TEST_EXIT_AFTER", std::to_string(step));
        ExitStatus cut = world.m_box.run({}, 30000);
        finished = cut.exitCode == 0;
        world.m_box.setEnv("OVUPDATE_TEST_EXIT_AFTER", "0");

        // A run that ends before any update still puts the installation together.
        world.m_box.setInternetCafe();
        ASSERT_EQ(world.m_box.run({}, 30000).exitCode, 0);
        std::map<std::string, std::string> now = world.installation();
        for (auto it = now.begin(); it != now.end();)  // retired backups wait for the next sweep
            it = it->first.size() > 4 && it->first.substr(it->first.size() - 4) == ".old" ? now.erase(it) : ++it;
        for (const Module* m : {&kNewPlugin, &kCodec, &kSubtitle, &kSkin, &kPlayerExe}) {
            auto found = now.find(m->path);
            std::string content = found == now.end() ? "" : found->second;
            EXPECT_TRUE(content == m->installed || content == m->offered) << m->path << ": " << content;
            now.erase(m->path);
            old.erase(m->path);
        }
        EXPECT_EQ(now, old) << "files other than the modules";

        fs::remove(world.m_box.appData() / "Lumora Video" / "Brisa" / "Kavo.ini");
        world.runAgent();
        for (const Module* m : {&kNewPlugin, &kCodec, &kSubtitle, &kSkin, &kPlayerExe})
            EXPECT_EQ(world.installed(*m), m->offered) << m->path;
        EXPECT_TRUE(world.backupsLeft().empty());
    }
    EXPECT_TRUE(finished) << "the run was cut short at every step tried";
}
#endif
