// The window side of the desktop: a top-level window that carries properties and
// receives WM_COPYDATA and foreground requests. Used by the stand-in player and tests.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "platform/desktop.h"

namespace plat {

struct WindowMessage {
    enum class Kind { CopyData, Foreground } kind = Kind::CopyData;
    uintptr_t dwData = 0;
    std::string payload;
};

class DesktopWindow {
public:
    // Creates a window with the given properties. Z order: number 1 is the top; 0 takes
    // the first free number. Null on failure (also when the number is taken).
    static std::unique_ptr<DesktopWindow> create(const std::vector<std::u16string>& properties, bool visible,
                                                 bool minimized, WindowHandle number = 0);
    virtual ~DesktopWindow() = default;  // the window disappears
    virtual WindowHandle handle() const = 0;
    virtual bool setState(bool visible, bool minimized) = 0;
    // Waits up to timeoutMs for the next message, acknowledges it and returns it;
    // false when none came in time.
    virtual bool receive(WindowMessage& message, uint32_t timeoutMs) = 0;
};

}  // namespace plat
