// What every end-to-end test uses: the sandboxed host that runs the real agent, and the
// checks on the log it writes.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "support/host_sandbox.h"

namespace e2e {

namespace fs = std::filesystem;
using testsupport::agentLine;
using testsupport::buildProgram;
using testsupport::ExitStatus;
using testsupport::hasLine;
using testsupport::HostSandbox;
using testsupport::kvlogName;
using testsupport::Launch;
using testsupport::Process;
using testsupport::programFolder;
using testsupport::readFile;
using testsupport::readLines;
using testsupport::thisProgram;
using testsupport::windowsPath;
using testsupport::writeFile;

// Polls until cond holds, for up to timeoutMs.
template <typename Cond>
bool eventually(Cond cond, int timeoutMs = 10000) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return cond();
}

// Position of the agent's line text in lines (the first from `from`), -1 when absent.
inline long lineAt(const std::vector<std::string>& lines, const std::string& text, long from = 0) {
    for (size_t i = static_cast<size_t>(std::max(0L, from)); i < lines.size(); ++i)
        if (lines[i] == agentLine(text)) return static_cast<long>(i);
    return -1;
}

inline bool logged(const std::vector<std::string>& lines, const std::string& text) {
    return lineAt(lines, text) >= 0;
}

// True when some line of the agent starts with text.
inline bool loggedPrefix(const std::vector<std::string>& lines, const std::string& text) {
    std::string start = agentLine(text);
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

inline long countLogged(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<long>(std::count(lines.begin(), lines.end(), agentLine(text)));
}

// True when every text appears, in this order.
inline bool inOrder(const std::vector<std::string>& lines, const std::vector<std::string>& texts) {
    long at = 0;
    for (const std::string& text : texts) {
        at = lineAt(lines, text, at);
        if (at < 0) {
            ADD_FAILURE() << "missing in order: " << text;
            return false;
        }
        ++at;
    }
    return true;
}

// The agent's log ends with its exit line.
inline bool endsWithExit(const std::vector<std::string>& lines) {
    return !lines.empty() && lines.back() == agentLine("升级程序OvUpdate.exe退出");
}

}  // namespace e2e
