#include "tools/player/marked_window.h"

#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "platform/desktop_window.h"
#include "text/text.h"
#include "tools/player/arguments.h"

namespace {

constexpr uint32_t kPollMs = 200;

struct WindowOptions {
    std::vector<std::u16string> marks;
    bool visible = true;
    bool minimized = false;
    int lifetimeSeconds = 0;  // 0: until the process is ended
};

// Empty when the options are usable, else what is wrong with them.
std::string parse(int argc, char** argv, WindowOptions& options) {
    long seconds = 0;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--minimized") options.minimized = true;
        else if (arg == "--hidden") options.visible = false;
        else if (arg == "--mark" && hasValue) options.marks.push_back(text::fromUtf8(argv[++i]));
        else if (arg == "--for" && hasValue && parseCount(argv[++i], seconds))
            options.lifetimeSeconds = static_cast<int>(seconds);
        else if (arg == "--for") return "--for needs a whole number of seconds";
        else if (arg == "--mark") return "--mark needs a NAME";
        else return "unknown option " + arg + " for window";
    }
    if (options.marks.empty()) options.marks.push_back(u"ORVIX_CLT");
    return "";
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
    std::string wrong = parse(argc, argv, options);
    if (!wrong.empty()) return argumentError(wrong);
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
