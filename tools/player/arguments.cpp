#include "tools/player/arguments.h"

#include <cerrno>
#include <cstdlib>
#include <iostream>

namespace {

constexpr char kUsage[] =
    "usage: OrvixPlayer update [--closewindow] [--timeout SECONDS] [--wait MS]\n"
    "       OrvixPlayer window [--minimized] [--hidden] [--mark NAME] [--for SECONDS]\n"
    "       OrvixPlayer send [--size BYTES] [--wait MS] WORD...\n"
    "       OrvixPlayer hold NAME [--for SECONDS]\n"
    "  --wait MS: how long update and send wait for the agent's pipe (default 10000)\n"
    "  hold OvUpdate holds the agent's single-instance mutex\n";

}  // namespace

int argumentError(const std::string& message) {
    std::cerr << "OrvixPlayer: " << message << "\n" << kUsage << std::flush;
    return 1;
}

bool parseCount(const std::string& text, long& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    value = std::strtol(text.c_str(), nullptr, 10);
    return errno == 0;
}
