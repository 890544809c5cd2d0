// The agent's entry operation: start-up, single instance, worker threads, exit rules.
#pragma once
#include <string>

namespace agent {
// Takes the whole command line; always returns 0. When a worker thread was stopped (or
// never ended), the process ends here with 0 instead, without static destruction, which
// could pull the logger library or libcurl from under that thread.
int wWinMain(const std::u16string& commandLine);
}  // namespace agent
