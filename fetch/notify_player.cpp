// Telling the running player: the first top-level window that carries the player's mark
// gets the message, provided it is on screen, and is brought forward.
#include "fetch/notify_player.h"

#include "app/log.h"
#include "platform/desktop.h"
#include "text/text.h"

namespace fetch {
namespace {

constexpr char16_t kPlayerMark[] = u"ORVIX_CLT";
constexpr char16_t kOtherPlayerMark[] = u"TESSIMAGE_CLT";
constexpr uint32_t kSendTimeoutMs = 5000;

bool isPlayerWindow(plat::WindowHandle window) {
    return plat::windowHasProperty(window, kPlayerMark) || plat::windowHasProperty(window, kOtherPlayerMark);
}

}  // namespace

std::string playerMessagePayload(const std::string& name, const std::string& ver, const std::string& md5,
                                 const std::string& verlog) {
    std::string payload = "update:" + name + "**" + ver + "**" + md5 + "**" + verlog;
    payload.push_back('\0');
    return payload;
}

// Only the first marked window counts: a hidden or minimised one ends the walk unsent.
void notifyPlayerWindows(const Package& u) {
    for (plat::WindowHandle window : plat::topLevelWindows()) {
        if (!isPlayerWindow(window)) continue;
        if (!plat::windowIsVisible(window) || plat::windowIsMinimized(window)) return;
        if (!u.nameBytes.empty() && !u.verBytes.empty() && !u.md5Bytes.empty() && !u.verlogBytes.empty()) {
            std::string payload = playerMessagePayload(u.nameBytes, u.verBytes, u.md5Bytes, u.verlogBytes);
            plat::sendCopyData(window, kPlayerMessageKind, payload, kSendTimeoutMs);  // the reply is not used
            std::string shown = payload.substr(0, payload.size() - 1);
            LOG(u"给窗口%0x发送copydata %s", static_cast<unsigned long long>(window), text::fromUtf8(shown));
        }
        plat::setForegroundWindow(window);
        return;
    }
}

}  // namespace fetch
