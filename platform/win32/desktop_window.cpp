// A real top-level window for the stand-ins and tests: it carries the given window
// properties, answers WM_COPYDATA with TRUE, and notes each activation as being brought
// forward. Messages are taken while receive pumps the owning thread's queue, so receive
// must be called on the thread that created the window.
#include <windows.h>

#include <deque>

#include "platform/desktop_window.h"
#include "platform/win32/wide.h"

namespace plat {

namespace {

constexpr wchar_t kClassName[] = L"OvUpdateStandInWindow";
const HANDLE kPropertyValue = reinterpret_cast<HANDLE>(1);

class Win32DesktopWindow : public DesktopWindow {
public:
    explicit Win32DesktopWindow(std::vector<std::u16string> properties) : m_properties(std::move(properties)) {}
    ~Win32DesktopWindow() override {
        if (!m_window) return;
        for (const auto& p : m_properties) RemovePropW(m_window, win32::wide(p));
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }

    bool open(bool visible, bool minimized) {
        if (!registerClass()) return false;
        m_window = CreateWindowExW(0, kClassName, L"Orvix", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320,
                                   200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (!m_window) return false;
        SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        for (const auto& p : m_properties)
            if (!SetPropW(m_window, win32::wide(p), kPropertyValue)) return false;
        return setState(visible, minimized);
    }

    WindowHandle handle() const override { return reinterpret_cast<WindowHandle>(m_window); }

    // Never activates the window itself, so that an activation seen later came from
    // someone bringing it forward. A new window goes below every other one, as a window
    // that takes the next free place in the Z order.
    bool setState(bool visible, bool minimized) override {
        int command = SW_HIDE;
        if (visible) command = minimized ? SW_SHOWMINNOACTIVE : SW_SHOWNOACTIVATE;
        if (visible && !minimized && IsIconic(m_window)) OpenIcon(m_window);
        ShowWindow(m_window, command);
        return SetWindowPos(m_window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE) != FALSE;
    }

    bool receive(WindowMessage& message, uint32_t timeoutMs) override {
        ULONGLONG deadline = GetTickCount64() + timeoutMs;
        for (;;) {
            MSG msg;
            while (m_messages.empty() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (!m_messages.empty()) break;
            ULONGLONG now = GetTickCount64();
            if (now >= deadline) return false;
            MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                        MWMO_INPUTAVAILABLE);
        }
        message = m_messages.front();
        m_messages.pop_front();
        return true;
    }

private:
    static bool registerClass() {
        static const bool registered = [] {
            WNDCLASSW windowClass{};
            windowClass.lpfnWndProc = procedure;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.lpszClassName = kClassName;
            return RegisterClassW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
        }();
        return registered;
    }

    static LRESULT CALLBACK procedure(HWND window, UINT kind, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Win32DesktopWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && kind == WM_COPYDATA) {
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            std::string bytes;
            if (data->lpData && data->cbData) bytes.assign(static_cast<const char*>(data->lpData), data->cbData);
            self->m_messages.push_back(WindowMessage{WindowMessage::Kind::CopyData, data->dwData, bytes});
            return TRUE;
        }
        if (self && kind == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE)
            self->m_messages.push_back(WindowMessage{WindowMessage::Kind::Foreground, 0, ""});
        return DefWindowProcW(window, kind, wParam, lParam);
    }

    std::vector<std::u16string> m_properties;
    HWND m_window = nullptr;
    std::deque<WindowMessage> m_messages;
};

}  // namespace

// Windows places windows in the Z order itself; the number is not used here.
std::unique_ptr<DesktopWindow> DesktopWindow::create(const std::vector<std::u16string>& properties, bool visible,
                                                     bool minimized, WindowHandle) {
    auto window = std::make_unique<Win32DesktopWindow>(properties);
    if (!window->open(visible, minimized)) return nullptr;
    return window;
}

}  // namespace plat
