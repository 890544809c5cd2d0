#include "fetch/engine_session.h"

#include <gtest/gtest.h>

#include "fetch/fetch_fixture.h"

using namespace fetchtest;

namespace {

std::string agentUtf8(const TempFolder& folder, const std::string& relative) {
    return text::toUtf8(folder.agentPath(relative));
}

}  // namespace

TEST(EngineSession, CallsTheEngineInOrderAndReportsThroughMessages) {
    EngineWorld world;
    HttpServer server;
    server.serve("/p2p/pkg.exe", Reply{"package"});
    fetch::EngineSession session;

    ASSERT_TRUE(session.start(world.job(wideUrl(server, "/p2p/pkg.exe"))));
    EXPECT_EQ(nextMessage(), fetch::UM_ENGINE_CALLBACK_READY);
    EXPECT_EQ(nextMessage(), fetch::UM_ENGINE_PACKAGE_DONE);
    EXPECT_EQ(readFile(world.path() / "save" / "pkg.exe"), "package");

    session.release();
    session.release();  // a second release finds nothing left to do
    EXPECT_FALSE(session.loaded());

    const std::string engine = agentUtf8(world, "engine");
    std::vector<std::string> expected = {
        "init 201 11 117 zeros " + engine + "\\NimboProxy.dll null " + engine + "\\libcurl.dll",
        "creator.createTask " + server.url("/p2p/pkg.exe") + " 1000 " + agentUtf8(world, "save") +
            "\\pkg.exe client-1 1a2b3c4d_2012 0123456789abcdef0123456789abcdef 0",
        "task.setParameter p2p_priority 1 4",
        "task.setCallBack",
        "task.start",
        "notify 4",
        "notify 1",
        "task.stop 0",
        "creator.destroyTask",
        "destroyCreator",
    };
    EXPECT_EQ(world.journal(), expected);
}

TEST(EngineSession, EngineDownloadFailureArrivesAsFailedMessageAndTheSessionLetsGoWhenItEnds) {
    EngineWorld world;
    HttpServer server;  // answers 404 to everything
    {
        fetch::EngineSession session;
        ASSERT_TRUE(session.start(world.job(wideUrl(server, "/p2p/missing.exe"))));
        EXPECT_EQ(nextMessage(), fetch::UM_ENGINE_CALLBACK_READY);
        EXPECT_EQ(nextMessage(), fetch::UM_ENGINE_DOWNLOAD_FAILED);
    }
    EXPECT_FALSE(fs::exists(world.path() / "save" / "pkg.exe"));
    EXPECT_EQ(world.journal().back(), "destroyCreator");
}

// Every refusal of the engine after the library is loaded leaves what was made so far for
// the release, and no later step runs.
TEST(EngineSession, EachEngineRefusalStopsTheStartAndIsReleasedLater) {
    struct Case {
        const char* fail;
        std::string lastCall;
        std::vector<std::string> released;  // the engine's calls made by the release
    };
    const std::vector<std::string> taskAndCreator = {"task.stop 0", "creator.destroyTask", "destroyCreator"};
    for (const Case& c :
         {Case{"init", "init", {}}, Case{"task", "creator.createTask", {"destroyCreator"}},
          Case{"callback", "task.setCallBack", taskAndCreator}, Case{"start", "task.start", taskAndCreator}}) {
        SCOPED_TRACE(c.fail);
        EngineWorld world;
        setenv("PRISM_STANDIN_FAIL", c.fail, 1);
        fetch::EngineSession session;

        EXPECT_FALSE(session.start(world.job(u"http://127.0.0.1:9/pkg.exe")));
        EXPECT_TRUE(session.loaded());
        std::vector<std::string> calls = world.journal();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().substr(0, c.lastCall.size()), c.lastCall);

        session.release();
        EXPECT_FALSE(session.loaded());
        std::vector<std::string> after = world.journal();
        EXPECT_EQ(std::vector<std::string>(after.begin() + static_cast<std::ptrdiff_t>(calls.size()), after.end()),
                  c.released);
        EXPECT_EQ(nextMessage(50), 0u);  // a refused task never reports
    }
}

TEST(EngineSession, UnusableEngineIsNotCalled) {
    EngineWorld world;
    fetch::EngineSession session;
    const fetch::PackageJob job = world.job(u"http://127.0.0.1:9/pkg.exe");

    // No link, size or checksum: nothing is loaded at all.
    for (std::u16string fetch::Package::*field :
         {&fetch::Package::prismlink, &fetch::Package::filesize, &fetch::Package::crc32}) {
        fetch::PackageJob incomplete = job;
        (incomplete.package.*field).clear();
        EXPECT_FALSE(session.start(incomplete));
        EXPECT_FALSE(session.loaded());
    }

    // No registry key.
    world.pointRegistryAt(u"");
    EXPECT_FALSE(session.start(job));
    EXPECT_FALSE(session.loaded());

    // The key names the folder itself: it is used as it is, and without the engine's own
    // libcurl the library is loaded but never called.
    world.pointRegistryAt(world.agentPath("engine"));
    fs::remove(world.engineDir() / "libcurl.dll");
    EXPECT_FALSE(session.start(job));
    EXPECT_TRUE(session.loaded());
    EXPECT_TRUE(world.journal().empty());
    session.release();
    EXPECT_FALSE(session.loaded());

    // A folder without prism.dll.
    world.pointRegistryAt(world.agentPath("save"));
    EXPECT_FALSE(session.start(job));
    EXPECT_FALSE(session.loaded());
}

TEST(EngineSession, LibraryWithoutTheExportsIsRefused) {
    EngineWorld world;
    writeFile(world.engineDir() / "prism.dll", readFile(testsupport::programFolder() / "NimboProxy.dll"));
    fetch::EngineSession session;
    EXPECT_FALSE(session.start(world.job(u"http://127.0.0.1:9/pkg.exe")));
    EXPECT_TRUE(session.loaded());
    session.release();
    EXPECT_FALSE(session.loaded());
}

TEST(EngineSession, ReleaseWithNothingLoadedIsHarmless) {
    fetch::EngineSession session;
    session.release();
    session.release();
    EXPECT_FALSE(session.loaded());
}
