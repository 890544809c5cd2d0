// What a verified package leads to: the installer started, or the package recorded and the
// running player told on its marked window; and a run without a package meeting another
// updater's silent-update object.
#include <cstdio>
#include <cstdlib>

#include "e2e/install_world.h"
#include "platform/named_mutex.h"

using namespace e2e;

namespace {

// A stand-in player window on the desktop, and what it printed.
struct PlayerWindow {
    std::unique_ptr<Process> process;
    std::string output;  // its file in the sandbox
    std::string handle;  // as the window printed it (decimal)
};

class InstallFinish : public InstallRun {
protected:
    // A package served over HTTP, with the given extra attributes.
    void offerOverHttp(const std::string& attributes) {
        m_http.serve("/pkg", {m_package});
        offer("usehttp='1' httplinkfull='" + m_http.url("/pkg") + "' " + attributes);
    }
    // Starts a stand-in player window (below the earlier ones) and waits until it is on
    // the desktop.
    void showWindow(const std::vector<std::string>& options) {
        std::vector<std::string> args = {"window", "--for", "30"};
        args.insert(args.end(), options.begin(), options.end());
        std::string output = "window" + std::to_string(m_windows.size() + 1) + ".txt";
        m_windows.push_back({m_box.start(args, buildProgram("OrvixPlayer"), output), output, ""});
        PlayerWindow& window = m_windows.back();
        ASSERT_TRUE(waitUntil([&] { return !(window.handle = shownHandle(window)).empty(); }, 5s))
            << m_box.read(output);
    }
    std::vector<std::string> said(size_t window) const {
        return readLines(m_box.path() / m_windows[window - 1].output);
    }
    // True when the window printed a line "window <handle> " + text.
    bool saidStart(size_t window, const std::string& text) const {
        std::string start = "window " + m_windows[window - 1].handle + " " + text;
        for (const std::string& line : said(window))
            if (line.rfind(start, 0) == 0) return true;
        return false;
    }
    bool silent(size_t window) const { return !saidStart(window, "got") && !saidStart(window, "brought"); }
    // The handle as the agent logs it (hexadecimal).
    std::string loggedHandle(size_t window) const {
        char hex[32];
        std::snprintf(hex, sizeof hex, "%llx", std::strtoull(m_windows[window - 1].handle.c_str(), nullptr, 10));
        return hex;
    }

    HttpServer m_http;
    std::vector<PlayerWindow> m_windows;

private:
    std::string shownHandle(const PlayerWindow& window) const {
        for (const std::string& line : readLines(m_box.path() / window.output)) {
            size_t shown = line.find(" shown");
            if (line.rfind("window ", 0) == 0 && shown != std::string::npos) return line.substr(7, shown - 7);
        }
        return "";
    }
};

}  // namespace

TEST_F(InstallFinish, RunNowStartsThePackageWithoutParametersAndRecordsNothing) {
    offerOverHttp("runnow='1'");
    std::vector<std::string> lines = runAgent();
    EXPECT_TRUE(inOrder(lines, {"check md5 success", "run setup.exe now", "释放所有prism资源"}));
    ASSERT_TRUE(waitUntil([&] { return e2e::readFile(marker()) == "started with 0 arguments\n"; }))
        << e2e::readFile(marker());
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

    std::string text =
        std::string("update:") + kName + "**3.2.0.1**" + packageMd5() + "**Faster start-up; subtitles fixed.";
    EXPECT_TRUE(inOrder(lines, {"write update info in OvUpdate.ini", "notify Orvix.exe",
                                "给窗口" + loggedHandle(2) + "发送copydata " + text, "释放所有prism资源"}));
    EXPECT_EQ(recordedFile(), kName);
    EXPECT_FALSE(fs::exists(marker()));
    std::string window = "window " + m_windows[1].handle;
    std::string got = window + " got WM_COPYDATA dwData=12 cbData=" + std::to_string(text.size() + 1) +
                      " (zero byte counted): " + text;
    ASSERT_TRUE(waitUntil([&] { return saidStart(2, "brought forward"); }, 5s)) << m_box.read(m_windows[1].output);
    std::vector<std::string> output = said(2);
    auto at = std::find(output.begin(), output.end(), got);
    ASSERT_NE(at, output.end()) << got;
    EXPECT_NE(std::find(at, output.end(), window + " brought forward"), output.end());
    EXPECT_TRUE(silent(1));
    EXPECT_TRUE(silent(3));
}

TEST_F(InstallFinish, MinimisedFirstMarkedWindowStopsTheWalk) {
    offerOverHttp("showtip='1' verlog='notes'");
    showWindow({"--minimized"});
    showWindow({});
    std::vector<std::string> lines = runAgent();
    EXPECT_TRUE(inOrder(lines, {"notify Orvix.exe", "释放所有prism资源"}));
    EXPECT_FALSE(loggedPrefix(lines, "给窗口"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // anything sent would show by now
    EXPECT_TRUE(silent(1));
    EXPECT_TRUE(silent(2));
}

TEST_F(InstallFinish, NoReleaseNotesNoNotification) {
    offerOverHttp("showtip='1'");
    showWindow({});
    std::vector<std::string> lines = runAgent();
    EXPECT_NE(lineAt(lines, "check md5 success"), -1);
    EXPECT_EQ(lineAt(lines, "notify Orvix.exe"), -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(silent(1));
}

// A run without a package takes the silent-update object for the module update; while
// another process holds the object, the module update is left to that process.
TEST_F(InstallFinish, SilentObjectOfAnotherProcessSkipsTheModuleUpdate) {
    offer("enable='0'");
    std::vector<std::string> first = runAgent();
    EXPECT_TRUE(inOrder(first, {"下载安装包完成 下载状态是：2", "释放所有prism资源",
                                "创建静默下载内核对象成功，防止老版本后续再去下载", "无需静默下载或静默失败"}));
    plat::MutexHandle held = plat::createNamedMutex(u"AEE5851B-96A7-4F3A-8C04-D2CAE21C8003", false, true);
    ASSERT_NE(held, nullptr);
    m_box.removeLogs();
    std::vector<std::string> second = runAgent();
    plat::closeMutex(held);
    EXPECT_TRUE(
        inOrder(second, {"下载安装包完成 下载状态是：2",
                         "老版本静默升级下载文件内核对象存在，不走Ovupdate.exe静默流程", "正常升级线程结束"}));
    EXPECT_EQ(lineAt(second, "创建静默下载内核对象成功，防止老版本后续再去下载"), -1);
    EXPECT_EQ(lineAt(second, "无需静默下载或静默失败"), -1);
}
