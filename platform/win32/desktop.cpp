#include <windows.h>

#include "platform/desktop.h"
#include "platform/win32/wide.h"

namespace plat {

namespace {

HWND hwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }

}  // namespace

std::vector<WindowHandle> topLevelWindows() {
    std::vector<WindowHandle> windows;
    // The desktop's children in Z order; bounded in case the list changes under the walk
    // and loops.
    HWND window = GetWindow(GetDesktopWindow(), GW_CHILD);
    for (int guard = 0; window && guard < 100000; ++guard) {
        windows.push_back(reinterpret_cast<WindowHandle>(window));
        window = GetWindow(window, GW_HWNDNEXT);
    }
    return windows;
}

bool windowHasProperty(WindowHandle window, const std::u16string& property) {
    return GetPropW(hwnd(window), win32::wide(property)) != nullptr;
}

bool windowIsVisible(WindowHandle window) { return IsWindowVisible(hwnd(window)) != FALSE; }

bool windowIsMinimized(WindowHandle window) { return IsIconic(hwnd(window)) != FALSE; }

bool sendCopyData(WindowHandle window, uintptr_t dwData, const std::string& payload, uint32_t timeoutMs) {
    COPYDATASTRUCT data;
    data.dwData = dwData;
    data.cbData = static_cast<DWORD>(payload.size());
    data.lpData = const_cast<char*>(payload.data());
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(hwnd(window), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_BLOCK,
                               timeoutMs, &result) != 0;
}

bool setForegroundWindow(WindowHandle window) { return SetForegroundWindow(hwnd(window)) != FALSE; }

}  // namespace plat
