// An update the user asks for: the player drives the agent over the pipe, from the offer
// to the verified package.
#include <gtest/gtest.h>

#include "channel_support.h"

using namespace e2e;

namespace {

bool logged(const AgentSandbox& box, const std::string& text) { return e2e::logged(box.logLines(), text); }

// On a metered link too: the user asked for this download.
TEST(ChannelInitiative, PlayerRunsTheWholeExchange) {
    AgentSandbox box;
    OfferServer server;
    prepare(box, server);
    box.setEnv("OVUPDATE_NETWORK_COST", "metered");
    auto agent = box.start({"initiative"});
    auto player = box.start({"update", "--timeout", "20"}, buildProgram("OrvixPlayer"), "player.txt");
    ExitStatus played = player->wait(30000);
    ASSERT_FALSE(played.timedOut);
    EXPECT_EQ(played.exitCode, 0) << box.read("player.txt");
    ExitStatus ran = agent->wait(5000);
    EXPECT_FALSE(ran.timedOut);
    EXPECT_EQ(ran.exitCode, 0);

    std::string path = savedPackagePath(box);
    std::vector<std::string> out = readLines(box.path() / "player.txt");
    EXPECT_TRUE(hasLine(out, "offer: " + server.offerReply()));
    EXPECT_TRUE(hasLine(out, "download: downloadstart"));
    EXPECT_TRUE(hasLine(out, "progress: 1048576 of 1048576 bytes (100%)"));
    EXPECT_TRUE(hasLine(out, "package: " + path));
    EXPECT_TRUE(hasLine(out, "sent: allclose"));
    EXPECT_EQ(readFile(box.dataFolder() / "OvUpdate" / OfferServer::kPackageName), server.package());

    EXPECT_TRUE(logged(box, "request:requestxml, response:" + server.offerReply()));
    EXPECT_TRUE(logged(box, "request:downloadsetup, response:downloadstart"));
    EXPECT_TRUE(logged(box, "curl downloadsuccess"));
    EXPECT_FALSE(logged(box, "request:downloadsuccess, response:failed*" + path));
    EXPECT_EQ(server.packageHits(), 1);
    EXPECT_TRUE(logged(box, "request:downloadsuccess, response:ok*" + path));
    EXPECT_TRUE(logged(box, "request:allclose,now close all"));
    EXPECT_TRUE(logged(box, "pipe thread normal exit"));
    EXPECT_TRUE(logged(box, "主动升级启动，并且主动升级请求后关闭"));
}

TEST(ChannelInitiative, DownloadSuccessWaitsUntilThePackageIsVerified) {
    AgentSandbox box;
    OfferServer server;
    prepare(box, server);
    auto agent = box.start({"initiative"});
    PlayerPipe pipe;
    ASSERT_TRUE(pipe.connected());
    std::string path = savedPackagePath(box);

    server.hold();
    EXPECT_EQ(pipe.ask("requestxml"), server.offerReply());
    EXPECT_EQ(pipe.ask("downloadsetup"), "downloadstart");
    ASSERT_TRUE(waitUntil([&] { return server.packageHits() == 1; }));
    EXPECT_EQ(pipe.ask("downloadsuccess"), "wait*" + path);
    EXPECT_EQ(pipe.ask("downloadsetup"), "downloadstart");  // no second download
    server.release();

    std::string state;
    EXPECT_TRUE(waitUntil([&] { return (state = pipe.ask("downloadsuccess")) != "wait*" + path; }, 10s));
    EXPECT_EQ(state, "ok*" + path);
    EXPECT_EQ(pipe.ask("downloadprogress"), "1048576.000000*1048576.000000");
    EXPECT_EQ(pipe.ask("downloadsetup"), "ok*" + path + "*");
    EXPECT_EQ(server.packageHits(), 1);

    ASSERT_TRUE(pipe.send("allclose"));
    EXPECT_TRUE(pipe.closedByAgent());
    EXPECT_EQ(agent->wait(5000).exitCode, 0);
}

TEST(ChannelInitiative, CorrectPackageOnDiskIsHandedOverWithoutDownload) {
    AgentSandbox box;
    OfferServer server;
    prepare(box, server);
    writeFile(box.dataFolder() / "OvUpdate" / OfferServer::kPackageName, server.package());
    auto agent = box.start({"initiative"});
    auto player = box.start({"update", "--closewindow"}, buildProgram("OrvixPlayer"), "player.txt");
    EXPECT_EQ(player->wait(20000).exitCode, 0) << box.read("player.txt");
    EXPECT_EQ(agent->wait(5000).exitCode, 0);  // closewindow ends an initiative agent too

    std::vector<std::string> out = readLines(box.path() / "player.txt");
    EXPECT_TRUE(hasLine(out, "download: ok*" + savedPackagePath(box) + "*"));
    EXPECT_TRUE(hasLine(out, "sent: closewindow"));
    EXPECT_EQ(server.packageHits(), 0);
    EXPECT_TRUE(logged(box, "request:downloadsetup, response:ok*" + savedPackagePath(box) + "*"));
    EXPECT_TRUE(logged(box, "request:closewindow"));
    EXPECT_FALSE(logged(box, "curl downloadsuccess"));
}

}  // namespace
