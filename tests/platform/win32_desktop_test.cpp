// Top-level windows through the Win32 backend, with windows this test creates.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>

#include "platform/desktop.h"

namespace {

struct Received {
    ULONG_PTR dwData = 0;
    std::string payload;
} g_received;

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        g_received.dwData = data->dwData;
        g_received.payload.assign(static_cast<const char*>(data->lpData), data->cbData);
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND createWindow() {
    static ATOM atom = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = windowProcedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"OvUpdateTestWindow";
        return RegisterClassW(&windowClass);
    }();
    return CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<uintptr_t>(atom)), L"test",
                           WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr),
                           nullptr);
}

plat::WindowHandle handle(HWND window) { return reinterpret_cast<plat::WindowHandle>(window); }

}  // namespace

TEST(Win32Desktop, SeesWindowsInZOrderWithTheirStateAndProperties) {
    HWND marked = createWindow(), plain = createWindow();
    ASSERT_TRUE(marked && plain);
    SetPropW(marked, L"OvUpdateTestMark", reinterpret_cast<HANDLE>(1));
    ShowWindow(marked, SW_SHOWNOACTIVATE);
    SetWindowPos(marked, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    auto windows = plat::topLevelWindows();
    auto markedAt = std::find(windows.begin(), windows.end(), handle(marked));
    auto plainAt = std::find(windows.begin(), windows.end(), handle(plain));
    ASSERT_NE(markedAt, windows.end());
    ASSERT_NE(plainAt, windows.end());
    EXPECT_LT(markedAt, plainAt);  // brought to the top, so listed first

    EXPECT_TRUE(plat::windowHasProperty(handle(marked), u"OvUpdateTestMark"));
    EXPECT_FALSE(plat::windowHasProperty(handle(plain), u"OvUpdateTestMark"));
    EXPECT_TRUE(plat::windowIsVisible(handle(marked)));
    EXPECT_FALSE(plat::windowIsVisible(handle(plain)));
    EXPECT_FALSE(plat::windowIsMinimized(handle(marked)));
    ShowWindow(marked, SW_SHOWMINNOACTIVE);
    EXPECT_TRUE(plat::windowIsMinimized(handle(marked)));

    RemovePropW(marked, L"OvUpdateTestMark");
    DestroyWindow(marked);
    DestroyWindow(plain);
}

TEST(Win32Desktop, CopyDataArrivesWhole) {
    HWND window = createWindow();
    ASSERT_TRUE(window);
    g_received = {};
    std::string payload("{\"cmd\":\"update\"}\0tail", 22);
    EXPECT_TRUE(plat::sendCopyData(handle(window), 0x4F56, payload, 1000));
    EXPECT_EQ(g_received.dwData, 0x4F56u);
    EXPECT_EQ(g_received.payload, payload);
    DestroyWindow(window);
}

TEST(Win32Desktop, CopyDataToABusyWindowTimesOut) {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HWND window = nullptr;
    // The window's thread stops pumping messages until released.
    std::thread owner([&] {
        window = createWindow();
        SetEvent(ready);
        WaitForSingleObject(release, 10000);
        DestroyWindow(window);
    });
    WaitForSingleObject(ready, 10000);
    EXPECT_TRUE(window);
    if (window) {
        DWORD start = GetTickCount();
        EXPECT_FALSE(plat::sendCopyData(handle(window), 1, "x", 100));
        EXPECT_LT(GetTickCount() - start, 5000u);
    }
    SetEvent(release);
    owner.join();
    CloseHandle(ready);
    CloseHandle(release);
}

#else
TEST(Win32Desktop, NeedsWindows) {
    GTEST_SKIP() << "creates real windows; the POSIX desktop stand-in has its own tests";
}
#endif
