#include <gtest/gtest.h>

#include "fetch/engine_world.h"

namespace {

std::string agentUtf8(const TempFolder& folder, const std::string& relative) {
    return text::toUtf8(folder.agentPath(relative));
}

}  // namespace

TEST(EngineDriver, CallsTheEngineInOrderAndReportsThroughMessages) {
    EngineWorld world;
    LocalServer server;
    server.server.Get("/p2p/pkg.exe", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("package", "application/octet-stream");
    });
    UpdateDriver& driver = world.driver();
    world.prepare(driver, server.url("/p2p/pkg.exe"));

    ASSERT_TRUE(driver.startP2PDownload());
    EXPECT_EQ(EngineWorld::nextMessage(), UM_ENGINE_CALLBACK_READY);
    EXPECT_EQ(EngineWorld::nextMessage(), UM_ENGINE_PACKAGE_DONE);
    EXPECT_EQ(readFile(world.folder().path() / "save" / "pkg.exe"), "package");

    driver.releaseEngine();
    driver.releaseEngine();  // a second release finds nothing left to do
    EXPECT_EQ(driver.m_engineLibrary, nullptr);
    EXPECT_EQ(driver.m_engineCreator, nullptr);
    EXPECT_EQ(driver.m_engineTask, nullptr);
    EXPECT_EQ(driver.m_engineInit, nullptr);

    const std::string engine = agentUtf8(world.folder(), "engine");
    std::vector<std::string> expected = {
        "init 201 11 117 zeros " + engine + "\\NimboProxy.dll null " + engine + "\\libcurl.dll",
        "creator.createTask " + text::toUtf8(server.url("/p2p/pkg.exe")) + " 7 " +
            agentUtf8(world.folder(), "save") + "\\pkg.exe client-1 1a2b3c4d_2012 0123456789abcdef0123456789abcdef 0",
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

TEST(EngineDriver, EngineDownloadFailureArrivesAsFailedMessage) {
    EngineWorld world;
    LocalServer server;  // answers 404 to everything
    UpdateDriver& driver = world.driver();
    world.prepare(driver, server.url("/p2p/missing.exe"));

    ASSERT_TRUE(driver.startP2PDownload());
    EXPECT_EQ(EngineWorld::nextMessage(), UM_ENGINE_CALLBACK_READY);
    EXPECT_EQ(EngineWorld::nextMessage(), UM_ENGINE_DOWNLOAD_FAILED);
    driver.releaseEngine();
    EXPECT_FALSE(std::filesystem::exists(world.folder().path() / "save" / "pkg.exe"));
    EXPECT_EQ(world.journal().back(), "destroyCreator");
}

// Every refusal of the engine after the library is loaded leaves what was made so far for
// releaseEngine, and no later step runs.
TEST(EngineDriver, EachEngineRefusalStopsTheStartAndIsReleasedLater) {
    struct Case {
        const char* fail;
        std::string lastCall;
        bool creator, task;
    };
    for (const Case& c : {Case{"init", "init", false, false}, Case{"task", "creator.createTask", true, false},
                          Case{"callback", "task.setCallBack", true, true}, Case{"start", "task.start", true, true}}) {
        SCOPED_TRACE(c.fail);
        EngineWorld world;
        setenv("PRISM_STANDIN_FAIL", c.fail, 1);
        UpdateDriver& driver = world.driver();
        world.prepare(driver, u"http://127.0.0.1:9/pkg.exe");

        EXPECT_FALSE(driver.startP2PDownload());
        EXPECT_NE(driver.m_engineLibrary, nullptr);
        EXPECT_EQ(driver.m_engineCreator != nullptr, c.creator);
        EXPECT_EQ(driver.m_engineTask != nullptr, c.task);
        std::vector<std::string> calls = world.journal();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().substr(0, c.lastCall.size()), c.lastCall);

        driver.releaseEngine();
        EXPECT_EQ(driver.m_engineLibrary, nullptr);
        EXPECT_EQ(driver.m_engineCreator, nullptr);
        EXPECT_EQ(driver.m_engineTask, nullptr);
        EXPECT_EQ(EngineWorld::nextMessage(50), 0u);  // a refused task never reports
    }
}

TEST(EngineDriver, UnusableEngineIsNotCalled) {
    EngineWorld world;
    UpdateDriver& driver = world.driver();

    // No checksum: nothing is loaded at all.
    world.prepare(driver, u"http://127.0.0.1:9/pkg.exe");
    driver.m_update.crc32.clear();
    EXPECT_FALSE(driver.startP2PDownload());
    EXPECT_EQ(driver.m_engineLibrary, nullptr);

    // No registry key.
    world.prepare(driver, u"http://127.0.0.1:9/pkg.exe");
    world.pointRegistryAt(u"");
    EXPECT_FALSE(driver.startP2PDownload());
    EXPECT_EQ(driver.m_engineLibrary, nullptr);

    // The key names the folder itself: it is used as it is, and without the engine's own
    // libcurl the library is loaded but never called.
    world.pointRegistryAt(world.folder().agentPath("engine"));
    std::filesystem::remove(world.engineDir() / "libcurl.dll");
    EXPECT_FALSE(driver.startP2PDownload());
    EXPECT_NE(driver.m_engineLibrary, nullptr);
    EXPECT_TRUE(world.journal().empty());
    driver.releaseEngine();
    EXPECT_EQ(driver.m_engineLibrary, nullptr);

    // A folder without prism.dll.
    world.pointRegistryAt(world.folder().agentPath("save"));
    EXPECT_FALSE(driver.startP2PDownload());
    EXPECT_EQ(driver.m_engineLibrary, nullptr);
}

TEST(EngineDriver, LibraryWithoutTheExportsIsRefused) {
    EngineWorld world;
    std::filesystem::copy_file(std::filesystem::path(OV_BIN_DIR) / "NimboProxy.dll", world.engineDir() / "prism.dll",
                               std::filesystem::copy_options::overwrite_existing);
    UpdateDriver& driver = world.driver();
    world.prepare(driver, u"http://127.0.0.1:9/pkg.exe");
    EXPECT_FALSE(driver.startP2PDownload());
    EXPECT_NE(driver.m_engineLibrary, nullptr);
    driver.releaseEngine();
    EXPECT_EQ(driver.m_engineLibrary, nullptr);
    EXPECT_EQ(driver.m_engineDestroy, nullptr);
}

TEST(EngineDriver, ReleaseWithNothingLoadedIsHarmless) {
    UpdateDriver driver;
    driver.releaseEngine();
    driver.releaseEngine();
    EXPECT_EQ(driver.m_engineLibrary, nullptr);
}
