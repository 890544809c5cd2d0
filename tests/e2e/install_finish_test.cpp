// What a verified package leads to: the installer started, or the package recorded and the
// running player told on its marked window; and a run without a package meeting another
// updater's silent-update object.
#include "e2e/install_world.h"
#include "platform/named_mutex.h"

using namespace e2e;

namespace {

bool waitFor(const std::function<bool()>& done, int limitMs = 5000) {
    for (int waited = 0; waited < limitMs; waited += 10) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

class InstallFinish : public InstallRun {
protected:
    // A package served over HTTP, with the given extra attributes.
    void offerOverHttp(const std::string& attributes) {
        m_http.put("/pkg", m_package);
        offer("usehttp='1' httplinkfull='" + m_http.url("/pkg") + "' " + attributes);
    }
    // Starts a stand-in player window and waits until it is on the desktop.
    void showWindow(const std::vector<std::string>& options) {
        std::vector<std::string> args = {"window", "--for", "30"};
        args.insert(args.end(), options.begin(), options.end());
        m_windows.push_back(m_box.start(args, binDir() + "/OrvixPlayer"));
        std::string shown = "window " + std::to_string(m_windows.size()) + " shown";
        ASSERT_TRUE(waitFor([&] { return playerSaid(shown); })) << shown;
    }
    std::vector<std::string> playerOutput() const { return readLines(m_box.root() / "output.txt"); }
    bool playerSaid(const std::string& start) const {
        for (const std::string& line : playerOutput())
            if (line.compare(0, start.size(), start) == 0) return true;
        return false;
    }

    FileServer m_http;
    std::vector<std::unique_ptr<Process>> m_windows;
};

}  // namespace

TEST_F(InstallFinish, RunNowStartsThePackageWithoutParametersAndRecordsNothing) {
    offerOverHttp("runnow='1'");
    std::vector<std::string> lines = runAgent();
    EXPECT_TRUE(inOrder(lines, {"check md5 success", "run setup.exe now", "释放所有prism资源"}));
    fs::path marker = m_box.root() / "installer-ran.txt";
    ASSERT_TRUE(waitFor([&] { return e2e::readFile(marker) == "started with 0 arguments\n"; })) << e2e::readFile(marker);
    EXPECT_EQ(recordedFile(), "");
    EXPECT_EQ(lineAt(lines, "write update info in OvUpdate.ini"), -1);
}

// The walk skips windows without the mark, tells the first marked one and brings it
// forward; later marked windows hear nothing.
TEST_F(InstallFinish, ReleaseNotesGoToTheFirstMarkedVisibleWindow) {
    offerOverHttp("runnow='0' showtip='1' verlog='Faster start-up; subtitles fixed.'");
    showWindow({"--mark", "SOME_OTHER_APP"});
    showWindow({});
    showWindow({"--mark", "TESSIMAGE_CLT"});
    std::vector<std::string> lines = runAgent();

    std::string text = std::string("update:") + kName + "**3.2.0.1**" + packageMd5() + "**Faster start-up; subtitles fixed.";
    EXPECT_TRUE(inOrder(lines, {"write update info in OvUpdate.ini", "notify Orvix.exe", "给窗口2发送copydata " + text,
                                "释放所有prism资源"}));
    EXPECT_EQ(recordedFile(), kName);
    std::string got = "window 2 got WM_COPYDATA dwData=12 cbData=" + std::to_string(text.size() + 1) +
                      " (zero byte counted): " + text;
    ASSERT_TRUE(waitFor([&] { return playerSaid("window 2 brought forward"); }));
    std::vector<std::string> output = playerOutput();
    auto at = std::find(output.begin(), output.end(), got);
    ASSERT_NE(at, output.end()) << got;
    EXPECT_NE(std::find(at, output.end(), "window 2 brought forward"), output.end());
    EXPECT_FALSE(playerSaid("window 1 got"));
    EXPECT_FALSE(playerSaid("window 1 brought"));
    EXPECT_FALSE(playerSaid("window 3 got"));
    EXPECT_FALSE(playerSaid("window 3 brought"));
}

TEST_F(InstallFinish, MinimisedFirstMarkedWindowStopsTheWalk) {
    offerOverHttp("showtip='1' verlog='notes'");
    showWindow({"--minimized"});
    showWindow({});
    std::vector<std::string> lines = runAgent();
    EXPECT_TRUE(inOrder(lines, {"notify Orvix.exe", "释放所有prism资源"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // anything sent would show by now
    EXPECT_FALSE(playerSaid("window 1 got") || playerSaid("window 1 brought"));
    EXPECT_FALSE(playerSaid("window 2 got") || playerSaid("window 2 brought"));
}

TEST_F(InstallFinish, NoReleaseNotesNoNotification) {
    offerOverHttp("showtip='1'");
    showWindow({});
    std::vector<std::string> lines = runAgent();
    EXPECT_NE(lineAt(lines, "check md5 success"), -1);
    EXPECT_EQ(lineAt(lines, "notify Orvix.exe"), -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(playerSaid("window 1 got") || playerSaid("window 1 brought"));
}

// A run without a package takes the silent-update object for the module update; while
// another process holds the object, the module update is left to that process.
TEST_F(InstallFinish, SilentObjectOfAnotherProcessSkipsTheModuleUpdate) {
    offer("enable='0'");
    std::vector<std::string> first = runAgent();
    EXPECT_TRUE(inOrder(first, {"下载安装包完成 下载状态是：2", "释放所有prism资源",
                                "创建静默下载内核对象成功，防止老版本后续再去下载", "无需静默下载或静默失败"}));

    m_box.applyToThisProcess();
    plat::MutexHandle held = plat::createNamedMutex(u"AEE5851B-96A7-4F3A-8C04-D2CAE21C8003", false, true);
    ASSERT_NE(held, nullptr);
    fs::remove(m_box.todayLog());
    std::vector<std::string> second = runAgent();
    plat::closeMutex(held);
    EXPECT_TRUE(inOrder(second, {"下载安装包完成 下载状态是：2",
                                 "老版本静默升级下载文件内核对象存在，不走Ovupdate.exe静默流程", "正常升级线程结束"}));
    EXPECT_EQ(lineAt(second, "创建静默下载内核对象成功，防止老版本后续再去下载"), -1);
    EXPECT_EQ(lineAt(second, "无需静默下载或静默失败"), -1);
}
