// Top-level windows of the desktop, as the agent sees them when it notifies the player.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

using WindowHandle = uintptr_t;

// Top-level windows in Z order, the top one first.
std::vector<WindowHandle> topLevelWindows();
bool windowHasProperty(WindowHandle window, const std::u16string& property);
bool windowIsVisible(WindowHandle window);
bool windowIsMinimized(WindowHandle window);
// WM_COPYDATA sent with SMTO_BLOCK and the time-out; false when not delivered in time.
bool sendCopyData(WindowHandle window, uintptr_t dwData, const std::string& payload, uint32_t timeoutMs);
bool setForegroundWindow(WindowHandle window);

}  // namespace plat
