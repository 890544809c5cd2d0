#include "fetch/notify_player.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/desktop_window.h"
#include "support/host_sandbox.h"

namespace {

using plat::DesktopWindow;
using plat::WindowMessage;

// The player takes the byte count from the message, zero byte included, and passes the
// document's bytes on unchanged.
TEST(PlayerMessage, PayloadIsTheDocumentBytesWithTheZeroByteCounted) {
    std::string verlog = "\xe4\xbf\xae\xe5\xa4\x8d";  // UTF-8 as it came in the document
    std::string payload = fetch::playerMessagePayload("OrvixSetup.exe", "3.2.0.1", "5C54", verlog);
    std::string text = "update:OrvixSetup.exe**3.2.0.1**5C54**" + verlog;
    EXPECT_EQ(payload, text + std::string(1, '\0'));
    EXPECT_EQ(payload.size(), text.size() + 1);
    EXPECT_EQ(fetch::kPlayerMessageKind, 12u);
}

// The windows live in the host sandbox's runtime folder.
class NotifyPlayer : public testsupport::HostTest {
protected:
    void SetUp() override {
        m_package.nameBytes = "OrvixSetup.exe";
        m_package.verBytes = "3.2.0.1";
        m_package.md5Bytes = "5c54";
        m_package.verlogBytes = "faster";
    }
    std::unique_ptr<DesktopWindow> window(const std::vector<std::u16string>& marks, bool visible, bool minimized) {
        auto w = DesktopWindow::create(marks, visible, minimized);
        EXPECT_NE(w, nullptr);
        return w;
    }
    // Runs the notification beside the windows, which answer on this thread.
    void notifyWhile(const std::function<void()>& windowsSide) {
        std::thread agent([this] { fetch::notifyPlayerWindows(m_package); });
        windowsSide();
        agent.join();
    }
    static bool silent(DesktopWindow& w) {
        WindowMessage m;
        return !w.receive(m, 100);
    }

    fetch::Package m_package;
};

TEST_F(NotifyPlayer, FirstMarkedWindowGetsTheMessageAndComesForward) {
    auto plain = window({u"OTHER"}, true, false);
    auto player = window({u"ORVIX_CLT"}, true, false);
    auto second = window({u"ORVIX_CLT"}, true, false);
    notifyWhile([&] {
        WindowMessage m;
        ASSERT_TRUE(player->receive(m, 5000));
        EXPECT_EQ(m.kind, WindowMessage::Kind::CopyData);
        EXPECT_EQ(m.dwData, 12u);
        EXPECT_EQ(m.payload, std::string("update:OrvixSetup.exe**3.2.0.1**5c54**faster") + '\0');
        ASSERT_TRUE(player->receive(m, 5000));
        EXPECT_EQ(m.kind, WindowMessage::Kind::Foreground);
    });
    EXPECT_TRUE(silent(*plain));
    EXPECT_TRUE(silent(*second));
}

TEST_F(NotifyPlayer, FirstMarkedWindowOffScreenStopsTheWalk) {
    // Shown but minimised, then hidden.
    for (bool minimizedFirst : {true, false}) {
        SCOPED_TRACE(minimizedFirst);
        auto first = window({u"TESSIMAGE_CLT"}, minimizedFirst, minimizedFirst);
        auto visible = window({u"ORVIX_CLT"}, true, false);
        notifyWhile([] {});
        EXPECT_TRUE(silent(*first));
        EXPECT_TRUE(silent(*visible));
    }
}

TEST_F(NotifyPlayer, EmptyFieldSendsNothingButStillBringsTheWindowForward) {
    m_package.verBytes.clear();
    auto player = window({u"ORVIX_CLT"}, true, false);
    notifyWhile([&] {
        WindowMessage m;
        ASSERT_TRUE(player->receive(m, 5000));
        EXPECT_EQ(m.kind, WindowMessage::Kind::Foreground);
    });
}

}  // namespace
