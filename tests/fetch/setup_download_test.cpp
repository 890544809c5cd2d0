#include "fetch/setup_download.h"

#include <gtest/gtest.h>

#include "fetch/fetch_fixture.h"

using namespace fetchtest;

namespace {

void prepare(const std::u16string& url, const std::u16string& savePath) {
    fetch::SetupDownloadState& s = fetch::setupDownload();
    s.url = url;
    s.savePath = savePath;
    s.running = true;  // as the starter sets it before the worker runs
}

}  // namespace

TEST(SetupDownload, WorkerReportsResultProgressAndClearsTheRunningMarker) {
    HttpServer server;  // anything but the package answers 404
    TempFolder folder;
    std::string package(150000, 's');
    server.serve("/setup.exe", Reply{package});
    fetch::SetupDownloadState& state = fetch::setupDownload();

    prepare(wideUrl(server, "/setup.exe"), folder.agentPath("OvUpdate/setup.exe"));
    EXPECT_EQ(fetch::setupDownloadWorker(), 0u);
    EXPECT_TRUE(state.result);
    EXPECT_FALSE(state.running);
    EXPECT_EQ(state.progressTotal, 150000);
    EXPECT_EQ(state.progressNow, 150000);
    EXPECT_EQ(readFile(folder.path() / "OvUpdate/setup.exe"), package);

    prepare(wideUrl(server, "/gone.exe"), folder.agentPath("OvUpdate/gone.exe"));
    fetch::setupDownloadWorker();
    EXPECT_FALSE(state.result);
    EXPECT_FALSE(state.running);
    EXPECT_FALSE(fs::exists(folder.path() / "OvUpdate/gone.exe"));

    // Without a URL the worker ends at once; the last result stands.
    state.result = true;
    prepare(u"", folder.agentPath("OvUpdate/none.exe"));
    fetch::setupDownloadWorker();
    EXPECT_FALSE(state.running);
    EXPECT_TRUE(state.result);
}
