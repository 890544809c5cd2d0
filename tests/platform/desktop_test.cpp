#include "platform/desktop.h"
#include <future>
#include "platform/desktop_window.h"
#include "support/host_sandbox.h"

using namespace plat;

class Desktop : public testsupport::HostTest {};

TEST_F(Desktop, WindowsAreListedInZOrderWithTheirPropertiesAndState) {
#ifdef _WIN32
    GTEST_SKIP() << "numbered windows of the POSIX desktop; win32_desktop_test lists real windows";
#endif
    EXPECT_TRUE(topLevelWindows().empty());
    auto lower = DesktopWindow::create({u"ORVIX_CLT"}, true, false, 3);
    auto top = DesktopWindow::create({u"TESSIMAGE_CLT", u"Other"}, true, true);
    ASSERT_NE(lower, nullptr);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->handle(), 1u);
    EXPECT_EQ(DesktopWindow::create({}, true, false, 3), nullptr);  // number taken
    EXPECT_EQ(topLevelWindows(), (std::vector<WindowHandle>{1, 3}));

    EXPECT_TRUE(windowHasProperty(1, u"tessimage_clt"));
    EXPECT_FALSE(windowHasProperty(1, u"ORVIX_CLT"));
    EXPECT_TRUE(windowHasProperty(3, u"ORVIX_CLT"));
    EXPECT_TRUE(windowIsMinimized(1));
    EXPECT_FALSE(windowIsMinimized(3));
    ASSERT_TRUE(top->setState(false, false));
    EXPECT_FALSE(windowIsVisible(1));
    EXPECT_FALSE(windowIsMinimized(1));
    EXPECT_TRUE(windowIsVisible(3));

    top.reset();
    EXPECT_EQ(topLevelWindows(), (std::vector<WindowHandle>{3}));
    EXPECT_FALSE(windowIsVisible(1));
    EXPECT_FALSE(sendCopyData(1, 12, "x", 100));
}

TEST_F(Desktop, CopyDataAndForegroundReachTheWindow) {
    auto window = DesktopWindow::create({u"ORVIX_CLT"}, true, false);
    ASSERT_NE(window, nullptr);
    auto received = std::async(std::launch::async, [&] {
        std::vector<WindowMessage> messages(2);
        bool ok = window->receive(messages[0], 5000) && window->receive(messages[1], 5000);
        return ok ? messages : std::vector<WindowMessage>();
    });
    const std::string payload = "update:Orvix 3.5.0.1234 \xE4\xB8\xAD";
    EXPECT_TRUE(sendCopyData(window->handle(), 12, payload, 5000));
    EXPECT_TRUE(setForegroundWindow(window->handle()));
    auto messages = received.get();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].kind, WindowMessage::Kind::CopyData);
    EXPECT_EQ(messages[0].dwData, 12u);
    EXPECT_EQ(messages[0].payload, payload);
    EXPECT_EQ(messages[1].kind, WindowMessage::Kind::Foreground);
}

TEST_F(Desktop, AWindowThatDoesNotAnswerTimesOut) {
#ifdef _WIN32
    GTEST_SKIP()
        << "Windows calls a window of the sending thread directly; win32_desktop_test blocks another thread";
#endif
    auto window = DesktopWindow::create({u"ORVIX_CLT"}, true, false);
    ASSERT_NE(window, nullptr);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sendCopyData(window->handle(), 12, "update:", 60));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(60));
    EXPECT_LT(took, std::chrono::seconds(2));
    WindowMessage m;
    EXPECT_TRUE(window->receive(m, 100));  // the late message is still there for the window
    EXPECT_FALSE(window->receive(m, 10));
}
