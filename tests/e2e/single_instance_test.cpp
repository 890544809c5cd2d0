// One agent at a time: a second one gives way, unless the first is gone within a second.
#include "e2e/e2e_fixture.h"

using namespace e2e;

namespace {

bool waitForCount(const AgentSandbox& box, const std::string& text, long n) {
    return waitUntil([&] { return countLogged(box.logLines(), text) >= n; }, 5s);
}

// The first agent waits for the player in initiative mode, holding the mutex meanwhile.
std::unique_ptr<Process> startFirstAgent(AgentSandbox& box) {
    box.installPlayer();
    box.setPrintLog(1);
    box.setInternetCafe();
    auto first = box.start({"initiative"});
    EXPECT_TRUE(waitForCount(box, "等待线程开始", 1));
    return first;
}

}  // namespace

TEST(SingleInstance, SecondAgentGivesWayAfterLookingTwice) {
    AgentSandbox box;
    auto first = startFirstAgent(box);

    ExitStatus second = box.run();
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_GE(second.elapsedMs, 1000);  // the second look comes a second later
    std::vector<std::string> lines = box.logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(endsWithExit(lines));
    EXPECT_EQ(lines[lines.size() - 2], agentLine("已经有Ovupdate.exe存在"));
    // No thread of the second agent started.
    EXPECT_EQ(countLogged(lines, "等待线程开始"), 1);
    EXPECT_EQ(countLogged(lines, "启动正常升级线程"), 0);
    EXPECT_TRUE(first->running());

    // The first one still serves the player, and ends when told.
    EXPECT_EQ(box.start({"send", "allclose"}, buildProgram("OrvixPlayer"))->wait(10000).exitCode, 0);
    EXPECT_EQ(first->wait(10000).exitCode, 0);
    EXPECT_EQ(countLogged(box.logLines(), "升级程序OvUpdate.exe退出"), 2);
}

TEST(SingleInstance, AgentEndingWithinTheSecondMakesRoom) {
    AgentSandbox box;
    auto first = startFirstAgent(box);

    auto second = box.start();
    ASSERT_TRUE(waitForCount(box, "升级程序OvUpdate.exe启动，读取 printlog = 1", 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // past the first look
    first->kill();

    ExitStatus result = second->wait(10000);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_GE(result.elapsedMs, 1000);
    std::vector<std::string> lines = box.logLines();
    EXPECT_FALSE(hasLine(lines, agentLine("已经有Ovupdate.exe存在")));
    EXPECT_TRUE(hasLine(lines, agentLine("启动正常升级线程")));
    EXPECT_TRUE(endsWithExit(lines));
}
