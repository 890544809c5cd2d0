#include <gtest/gtest.h>

#include "channel/request_handler.h"
#include "channel_fixture.h"
#include "text/text.h"

namespace {

constexpr char kDocument[] = "/product/OvUpdate/OvUpdateInfo.xml";
const std::string kPackage = std::string(300000, 'p') + "end";

std::string ask(const char16_t* request) { return text::toUtf8(channel::handleRequest(request)); }

class RequestHandler : public ::testing::Test {
protected:
    void SetUp() override { world.reset(); }
    void TearDown() override { world.reset(); }

    void serveDocument(const std::string& xml) { world.server.serve(kDocument, {xml}); }
    void offer(const std::string& name = "OrvixSetup.exe", const std::string& package = kPackage) {
        serveDocument(world.offerDocument(name, package));
        world.server.serve("/pkg/" + name, {package});
        ASSERT_EQ(ask(u"requestxml").rfind("update:", 0), 0u);
    }
    // Polls "downloadsuccess" until it stops answering "wait".
    std::string downloadOutcome() {
        std::string reply;
        waitUntil([&] { return (reply = ask(u"downloadsuccess")).rfind("wait*", 0) != 0; });
        return reply;
    }

    ChannelWorld& world = ChannelWorld::get();
};

TEST_F(RequestHandler, OfferIsFetchedUntilComplete_ThenKept) {
    // Unreachable document: no reply text, and the next request fetches again.
    EXPECT_EQ(ask(u"requestxml"), "");
    // A document without release notes is never offered.
    serveDocument("<update><exeupdate version=\"1\" md5=\"ab\" filename=\"a.exe\" url=\"u\"/></update>");
    EXPECT_EQ(ask(u"requestxml"), "");
    EXPECT_EQ(world.server.hits(kDocument), 2);

    serveDocument(world.offerDocument("OrvixSetup.exe", kPackage));
    std::string md5 = app::md5OfBuffer(kPackage.data(), kPackage.size());
    std::string expected = "update:OrvixSetup.exe**3.2.0.1**" + md5 + "**新版本 fixes";
    EXPECT_EQ(ask(u"requestxml"), expected);
    serveDocument(world.offerDocument("Other.exe", "x"));
    EXPECT_EQ(ask(u"requestxml"), expected);
    EXPECT_EQ(world.server.hits(kDocument), 3);
}

TEST_F(RequestHandler, DebugSwitchPicksTheDebugDocument) {
    writeFile(world.settingsFile(), "[Test]\r\ndebug=1\r\n");
    world.server.serve("/product/OvUpdate/OvUpdateInfo_Debug.xml", {world.offerDocument("Debug.exe", "d")});
    EXPECT_EQ(ask(u"requestxml").rfind("update:Debug.exe**", 0), 0u);
    EXPECT_EQ(world.server.hits(kDocument), 0);
}

TEST_F(RequestHandler, FileNameThatLeavesThePackageFolderMakesTheOfferInvalid) {
    for (const char* name : {"..\\..\\Orvix.exe", "../evil.exe", "sub\\a.exe", "C:a.exe", "..", "."}) {
        serveDocument(world.offerDocument(name, kPackage));
        EXPECT_EQ(ask(u"requestxml"), "") << name;
        EXPECT_EQ(ask(u"downloadsuccess"), "failed*") << name;
    }
    serveDocument(world.offerDocument("Good.exe", kPackage));
    EXPECT_EQ(ask(u"requestxml").rfind("update:Good.exe**", 0), 0u);
}

TEST_F(RequestHandler, FreshStateAnswers) {
    EXPECT_EQ(ask(u"downloadprogress"), "0.000000*0.000000");
    EXPECT_EQ(ask(u"downloadsuccess"), "failed*");
    // Unknown words, control words in another case and the empty text get no reply text.
    EXPECT_EQ(ask(u"ALLCLOSE"), "");
    EXPECT_EQ(ask(u"RequestXml"), "");
    EXPECT_EQ(ask(u""), "");
}

TEST_F(RequestHandler, DownloadRunsOnce_ReportsProgress_ThenPackageIsReady) {
    offer();
    std::string path = world.savePath("OrvixSetup.exe");
    world.server.hold("/pkg/");
    EXPECT_EQ(ask(u"downloadsetup"), "downloadstart");
    ASSERT_TRUE(waitUntil([&] { return world.server.hits("/pkg/OrvixSetup.exe") > 0; }));
    EXPECT_EQ(ask(u"downloadsuccess"), "wait*" + path);
    // Asking again while it runs starts no second download, and leaves the package alone
    // even when a whole one lies there: the running download is about to replace it.
    writeFile(world.packageFolder() / "OrvixSetup.exe", kPackage);
    EXPECT_EQ(ask(u"downloadsetup"), "downloadstart");
    world.server.release();

    EXPECT_EQ(downloadOutcome(), "ok*" + path);
    EXPECT_EQ(world.server.hits("/pkg/OrvixSetup.exe"), 1);
    EXPECT_EQ(readFile(world.packageFolder() / "OrvixSetup.exe"), kPackage);
    EXPECT_EQ(ask(u"downloadprogress"), "300003.000000*300003.000000");

    // A correct package on disk is handed over without another download.
    EXPECT_EQ(ask(u"downloadsetup"), "ok*" + path + "*");
    EXPECT_EQ(world.server.hits("/pkg/OrvixSetup.exe"), 1);
}

TEST_F(RequestHandler, DigestMismatchKeepsWaiting_AndDownloadsAgain) {
    offer();
    world.server.serve("/pkg/OrvixSetup.exe", {"tampered"});
    EXPECT_EQ(ask(u"downloadsetup"), "downloadstart");
    waitUntil([] { return !fetch::setupDownload().running.load(); });
    std::string path = world.savePath("OrvixSetup.exe");
    EXPECT_EQ(ask(u"downloadsuccess"), "wait*" + path);
    EXPECT_EQ(readFile(world.packageFolder() / "OrvixSetup.exe"), "tampered");

    // While the new download runs, the file is not looked at (the earlier result is stale,
    // and opening the file would stand in the way of the download's final move).
    world.server.serve("/pkg/OrvixSetup.exe", {kPackage});
    world.server.hold("/pkg/");
    EXPECT_EQ(ask(u"downloadsetup"), "downloadstart");
    ASSERT_TRUE(waitUntil([&] { return world.server.hits("/pkg/OrvixSetup.exe") >= 2; }));
    writeFile(world.packageFolder() / "OrvixSetup.exe", kPackage);
    EXPECT_EQ(ask(u"downloadsuccess"), "wait*" + path);
    world.server.release();
    EXPECT_EQ(downloadOutcome(), "ok*" + path);
}

TEST_F(RequestHandler, FailedOrImpossibleDownloadReportsFailed) {
    offer();
    world.server.serve("/pkg/OrvixSetup.exe", {"gone", 404});
    EXPECT_EQ(ask(u"downloadsetup"), "downloadstart");
    EXPECT_EQ(downloadOutcome(), "failed*" + world.savePath("OrvixSetup.exe"));
    EXPECT_FALSE(fs::exists(world.packageFolder() / "OrvixSetup.exe"));

    // An offer without a package address: the download ends at once.
    world.reset();
    serveDocument("<update><exeupdate version=\"1\" md5=\"ab\" verinfo=\"v\" filename=\"n.exe\"/></update>");
    ASSERT_EQ(ask(u"requestxml"), "update:n.exe**1**ab**v");
    EXPECT_EQ(ask(u"downloadsetup"), "downloadstart");
    EXPECT_EQ(downloadOutcome(), "failed*" + world.savePath("n.exe"));
}

TEST_F(RequestHandler, LongReplyIsCutToTheReplyBuffer) {
    std::string notes(5000, 'n');
    serveDocument("<update><exeupdate version=\"1\" md5=\"ab\" url=\"u\" filename=\"n.exe\" verinfo=\"" + notes +
                  "\"/></update>");
    std::u16string reply = channel::handleRequest(u"requestxml");
    EXPECT_EQ(reply.size(), channel::kReplyChars - 1);
    EXPECT_EQ(reply.rfind(u"update:n.exe**1**ab**nnn", 0), 0u);
}

}  // namespace
