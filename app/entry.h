// The agent's entry operation: start-up, single instance, worker threads, exit rules.
#pragma once
#include <string>

namespace agent {
// Takes the whole command line; always returns 0.
int wWinMain(const std::u16string& commandLine);
}
