// One agent at a time: a second one gives way, unless the first is gone within a second.
#include <gtest/gtest.h>

#include <algorithm>

#include "sandbox.h"

using e2e::agentLine;
using e2e::hasLine;

namespace {

size_t count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

bool waitForCount(const e2e::Sandbox& box, const std::string& line, size_t n) {
    for (int waited = 0; waited < 5000; waited += 10) {
        if (count(box.logLines(), line) >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The first agent waits for the player in initiative mode, holding the mutex meanwhile.
std::unique_ptr<e2e::Process> startFirstAgent(e2e::Sandbox& box) {
    box.installPlayer();
    box.setPrintLog(1);
    box.setInternetCafe();
    auto first = box.start({"initiative"});
    EXPECT_TRUE(waitForCount(box, agentLine("等待线程开始"), 1));
    return first;
}

}  // namespace

TEST(SingleInstance, SecondAgentGivesWayAfterLookingTwice) {
    e2e::Sandbox box;
    auto first = startFirstAgent(box);

    e2e::RunResult second = box.run();
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_GE(second.elapsedMs, 1000);  // the second look comes a second later
    std::vector<std::string> lines = box.logLines();
    EXPECT_EQ(lines.back(), agentLine("升级程序OvUpdate.exe退出"));
    EXPECT_EQ(lines[lines.size() - 2], agentLine("已经有Ovupdate.exe存在"));
    // No thread of the second agent started.
    EXPECT_EQ(count(lines, agentLine("等待线程开始")), 1u);
    EXPECT_EQ(count(lines, agentLine("启动正常升级线程")), 0u);
    EXPECT_TRUE(first->running());
}

TEST(SingleInstance, AgentEndingWithinTheSecondMakesRoom) {
    e2e::Sandbox box;
    auto first = startFirstAgent(box);

    auto second = box.start();
    ASSERT_TRUE(waitForCount(box, agentLine("升级程序OvUpdate.exe启动，读取 printlog = 1"), 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // past the first look
    first->kill();

    e2e::RunResult result = second->wait(10000);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_GE(result.elapsedMs, 1000);
    std::vector<std::string> lines = box.logLines();
    EXPECT_FALSE(hasLine(lines, agentLine("已经有Ovupdate.exe存在")));
    EXPECT_TRUE(hasLine(lines, agentLine("启动正常升级线程")));
    EXPECT_EQ(lines.back(), agentLine("升级程序OvUpdate.exe退出"));
}
