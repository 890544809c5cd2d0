#include "fetch/package_run.h"

#include <gtest/gtest.h>

#include <map>

#include "app/md5.h"
#include "app/settings.h"
#include "fetch/fetch_fixture.h"

using namespace fetchtest;
using fetch::NextStep;
using fetch::Verdict;

namespace {

constexpr char kPackage[] = "installer bytes";

// The player's data folder in the engine world and the job of the package pkg.exe, which
// must carry kPackage; the job has no engine link, so only the HTTP links fetch it.
class PackageRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_world.dataFolder());
        m_job = m_world.job(u"");
        m_job.package.md5 = text::fromUtf8(app::md5OfBuffer(kPackage, sizeof kPackage - 1));
        m_job.package.nameBytes = "pkg.exe";
    }
    fs::path packageFile() const { return m_world.path() / "save" / "pkg.exe"; }
    std::u16string recordedFile() const {
        return app::settings::readString(app::settings::kSectionUpdateInfo, app::settings::kKeyUpdateFile, u"", 260,
                                    app::settings::kOvUpdateIni);
    }
    // Each case starts without a package and without a recorded one.
    void clean() {
        fs::remove(packageFile());
        fs::remove(m_world.dataFolder() / "OvUpdate.ini");
    }

    EngineWorld m_world;
    fetch::PackageJob m_job;
};

}  // namespace

// Only a verified package is recorded; a run without a package goes on to the module stage.
TEST_F(PackageRunTest, EachVerdictEndsWithItsStatus) {
    struct Case {
        Verdict verdict;
        bool packageOnDisk;
        NextStep step;
        int status;
    } cases[] = {
        {Verdict::NothingToDo, false, NextStep::EndRun, 0},
        {Verdict::NoDocument, false, NextStep::ModuleStage, 1},
        {Verdict::NoUpdate, false, NextStep::ModuleStage, 2},
        {Verdict::PackagePresent, true, NextStep::EndRun, 3},
        {Verdict::Download, false, NextStep::ModuleStage, 6},  // no engine link and no HTTP link
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        clean();
        if (c.packageOnDisk) writeFile(packageFile(), kPackage);
        fetch::PackageRun run;
        EXPECT_EQ(run.lastStatus(), -1);
        EXPECT_EQ(run.start(c.verdict, m_job), c.step);
        EXPECT_EQ(run.lastStatus(), c.status);
        EXPECT_EQ(recordedFile(), c.packageOnDisk ? u"pkg.exe" : u"");
        EXPECT_FALSE(run.engine().loaded());
    }
    EXPECT_TRUE(m_world.journal().empty());
}

// The full link first, then the relative link on each package domain in order, until one
// brings the whole file; a body longer than the declared filesize is abandoned. A package
// that fails its digest is deleted and not recorded.
TEST_F(PackageRunTest, HttpDownloadTriesTheFullLinkThenEachDomain) {
    struct Case {
        std::map<std::string, std::string> served;  // everything else answers 404
        std::vector<std::string> requests;
        bool recorded;
        std::u16string filesize;
    } cases[] = {
        {{{"/d2/p/pkg.exe", kPackage}}, {"/full/pkg.exe", "/d1/p/pkg.exe", "/d2/p/pkg.exe"}, true, u""},
        {{{"/full/pkg.exe", "something else"}}, {"/full/pkg.exe"}, false, u""},
        {{{"/full/pkg.exe", std::string(kPackage) + " and an endless tail"}, {"/d1/p/pkg.exe", kPackage}},
         {"/full/pkg.exe", "/d1/p/pkg.exe"},
         true,
         text::fromUtf8(std::to_string(sizeof kPackage - 1))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requests.size());
        clean();
        HttpServer server;
        for (const auto& [path, body] : c.served) server.serve(path, Reply{body});
        fetch::PackageJob job = m_job;
        job.package.usehttp = 1;
        job.package.prismlink = u"http://127.0.0.1:9/never.exe";  // the engine is never asked
        job.package.httplinkfull = wideUrl(server, "/full/pkg.exe");
        job.package.httplink = u"p/pkg.exe";
        job.package.filesize = c.filesize;
        job.domains = {wideUrl(server, "/d1"), wideUrl(server, "/d2")};

        fetch::PackageRun run;
        EXPECT_EQ(run.start(Verdict::Download, job), NextStep::EndRun);
        EXPECT_EQ(run.lastStatus(), 5);
        std::vector<std::string> requested;
        for (const testsupport::Request& r : server.requests()) requested.push_back(r.path);
        EXPECT_EQ(requested, c.requests);
        EXPECT_EQ(fs::exists(packageFile()), c.recorded);
        if (c.recorded) {
            EXPECT_EQ(readFile(packageFile()), kPackage);
        }
        EXPECT_EQ(recordedFile(), c.recorded ? u"pkg.exe" : u"");
    }
    EXPECT_TRUE(m_world.journal().empty());
}

// The engine reports through the thread's messages. A package it reports whole but that
// fails its digest, or a download it reports failed, is fetched over HTTP once; whatever
// that brings, the run then ends.
TEST_F(PackageRunTest, EngineOutcomeIsFollowedByOneHttpDownloadWhenItBringsNoGoodPackage) {
    struct Case {
        int engineStatus;
        uint32_t engineReport;
        std::string served;  // over HTTP
    } cases[] = {
        {200, fetch::UM_ENGINE_PACKAGE_DONE, kPackage},
        {200, fetch::UM_ENGINE_PACKAGE_DONE, "still wrong"},
        {404, fetch::UM_ENGINE_DOWNLOAD_FAILED, kPackage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.engineStatus);
        SCOPED_TRACE(c.served);
        clean();
        HttpServer server;
        server.serve("/p2p/pkg.exe", Reply{"half from the engine", c.engineStatus});
        server.serve("/pkg.exe", Reply{c.served});
        fetch::PackageJob job = m_job;
        job.package.prismlink = wideUrl(server, "/p2p/pkg.exe");
        job.package.httplinkfull = wideUrl(server, "/pkg.exe");

        fetch::PackageRun run;
        ASSERT_EQ(run.start(Verdict::Download, job), NextStep::Wait);
        std::vector<uint32_t> reports;
        NextStep step = NextStep::Wait;
        while (step == NextStep::Wait) {
            uint32_t message = nextMessage();
            ASSERT_NE(message, 0u);
            reports.push_back(message);
            step = run.handleMessage(message);
        }
        EXPECT_EQ(reports, (std::vector<uint32_t>{fetch::UM_ENGINE_CALLBACK_READY, c.engineReport}));
        EXPECT_EQ(step, NextStep::EndRun);
        EXPECT_EQ(run.lastStatus(), 5);
        EXPECT_EQ(server.hits("/pkg.exe"), 1);
        bool good = c.served == kPackage;
        EXPECT_EQ(readFile(packageFile()), good ? c.served : "");  // a bad one is deleted
        EXPECT_EQ(recordedFile(), good ? u"pkg.exe" : u"");
        EXPECT_FALSE(run.engine().loaded());
    }
}
