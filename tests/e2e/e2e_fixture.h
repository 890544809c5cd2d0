// What every end-to-end test uses: the sandbox that runs the real agent, loopback servers,
// and the checks on the log the agent writes.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "text/text.h"
#include "support/agent_sandbox.h"
#include "support/file_io.h"
#include "support/http_server.h"
#include "support/poll.h"

namespace e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::agentLine;
using testsupport::AgentSandbox;
using testsupport::buildProgram;
using testsupport::ExitStatus;
using testsupport::HttpServer;
using testsupport::kClosedServer;
using testsupport::kvlogName;
using testsupport::Launch;
using testsupport::Process;
using testsupport::programFolder;
using testsupport::readFile;
using testsupport::readLines;
using testsupport::Reply;
using testsupport::thisProgram;
using testsupport::waitUntil;
using testsupport::writeFile;

// A path as the agent writes it ("\" separators), in UTF-8.
inline std::string windowsPath(const fs::path& path) { return text::toUtf8(testsupport::agentPath(path)); }

inline bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The paths a server was asked for, in order.
inline std::vector<std::string> requestedPaths(const HttpServer& server) {
    std::vector<std::string> paths;
    for (const testsupport::Request& r : server.requests()) paths.push_back(r.path);
    return paths;
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

// The exit line ends the log. The wait thread, which has just stopped the normal update
// thread when the player ended a background run, writes its own last line at the same
// moment as the main thread's exit line, so that one line may come after it.
// On failure, says what the log ended with instead.
inline ::testing::AssertionResult endsWithExit(const std::vector<std::string>& lines);

// The one way the end-to-end tests run the agent to its end: started with args in the
// sandbox, it ends within the time with exit code 0 and its log ends with the exit line.
// Answers the log.
inline std::vector<std::string> runToEnd(AgentSandbox& box, const std::vector<std::string>& args = {},
                                         int timeoutMs = 30000) {
    ExitStatus result = box.run(args, timeoutMs);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    std::vector<std::string> lines = box.logLines();
    EXPECT_TRUE(endsWithExit(lines));
    return lines;
}

inline ::testing::AssertionResult endsWithExit(const std::vector<std::string>& lines) {
    size_t end = lines.size();
    if (end > 1 && lines[end - 1] == agentLine("等待线程结束")) --end;
    if (end > 0 && lines[end - 1] == agentLine("升级程序OvUpdate.exe退出")) return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << "the log ends with:";
    for (size_t i = lines.size() > 5 ? lines.size() - 5 : 0; i < lines.size(); ++i) failure << "\n  " << lines[i];
    return failure;
}

}  // namespace e2e
