#include "tools/player/marked_window.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/desktop_window.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kPollMs = 200;

struct WindowOptions {
    std::vector<std::u16string> marks;
    bool visible = true;
    bool minimized = false;
    int lifetimeSeconds = 0;  // 0: until the process is ended
};

bool parse(int argc, char** argv, WindowOptions& options) {
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--minimized") options.minimized = true;
        else if (arg == "--hidden") options.visible = false;
        else if (arg == "--mark" && hasValue) options.marks.push_back(text::fromUtf8(argv[++i]));
        else if (arg == "--for" && hasValue) options.lifetimeSeconds = std::atoi(argv[++i]);
        else return false;
    }
    if (options.marks.empty()) options.marks.push_back(u"ORVIX_CLT");
    return true;
}

// The payload as text up to its zero byte, and whether that byte was counted in.
void printCopyData(const plat::WindowMessage& m, std::ostream& out) {
    const std::string& bytes = m.payload;
    bool zeroCounted = !bytes.empty() && bytes.back() == '\0';
    out << "got WM_COPYDATA dwData=" << m.dwData << " cbData=" << bytes.size()
        << (zeroCounted ? " (zero byte counted): " : ": ") << bytes.substr(0, bytes.find('\0')) << std::endl;
}

}  // namespace

int runMarkedWindow(int argc, char** argv, std::ostream& out) {
    WindowOptions options;
    if (!parse(argc, argv, options)) {
        std::cerr << "usage: OrvixPlayer window [--minimized] [--hidden] [--mark NAME] [--for SECONDS]\n";
        return 64;
    }
    auto window = plat::DesktopWindow::create(options.marks, options.visible, options.minimized);
    if (!window) {
        std::cerr << "cannot create the player window" << std::endl;
        return 1;
    }
    std::string marks;
    for (const std::u16string& mark : options.marks) marks += text::toUtf8(mark) + ", ";
    out << "window " << window->handle() << " shown (" << marks
        << (options.visible ? (options.minimized ? "minimized" : "visible") : "hidden") << ")" << std::endl;

    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(options.lifetimeSeconds);
    while (options.lifetimeSeconds <= 0 || std::chrono::steady_clock::now() < end) {
        plat::WindowMessage message;
        if (!window->receive(message, kPollMs)) continue;
        out << "window " << window->handle() << " ";
        if (message.kind == plat::WindowMessage::Kind::CopyData) printCopyData(message, out);
        else out << "brought forward" << std::endl;
    }
    return 0;
}
