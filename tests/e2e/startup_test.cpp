// Start-up and end of the agent as a user sees it: the log it writes, the log files it
// removes, the mode its command line selects; and the programs run beside it, which refuse
// a bad command line before doing anything.
#include <gtest/gtest.h>

#include "e2e/e2e_fixture.h"

using namespace e2e;

namespace {

const std::string kStartLine = agentLine("升级程序OvUpdate.exe启动，读取 printlog = 1");
const std::string kExitLine = agentLine("升级程序OvUpdate.exe退出");

long indexOf(const std::vector<std::string>& lines, const std::string& line) {
    auto it = std::find(lines.begin(), lines.end(), line);
    return it == lines.end() ? -1 : static_cast<long>(it - lines.begin());
}

}  // namespace

// The internet-cafe edition ends the background thread before any update, so the whole
// run is local and short.
TEST(Startup, BackgroundRunIsLoggedFromStartToExit) {
    AgentSandbox box;
    box.installPlayer();
    box.setPrintLog(1);
    box.setInternetCafe();
    ExitStatus result = box.run();
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);

    std::vector<std::string> lines = box.logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), kStartLine);
    EXPECT_EQ(lines.back(), kExitLine);
    EXPECT_EQ(lines[1], agentLine("启动参数："));
    EXPECT_EQ(lines[2], agentLine("启动正常升级线程"));
    long cafe = indexOf(lines, agentLine("网吧版跳出被动和静默"));
    EXPECT_GT(cafe, indexOf(lines, agentLine("正常升级线程开始")));
    EXPECT_GT(indexOf(lines, agentLine("正常升级线程结束")), cafe);
    EXPECT_FALSE(fs::exists(box.dataFolder() / "OvUpdate"));  // no update run began
    // The wait thread may be stopped before it logs its start, and once stopped it writes
    // nothing: its start line, if any, comes before the exit line.
    long waitStart = indexOf(lines, agentLine("等待线程开始"));
    long stopLine = indexOf(lines, agentLine("正常升级完成，且等待线程无链接，强制退出等待线程"));
    EXPECT_GT(stopLine, cafe);
    EXPECT_TRUE(stopLine == static_cast<long>(lines.size()) - 2 ||
                (stopLine == static_cast<long>(lines.size()) - 3 && waitStart == stopLine + 1));
}

TEST(Startup, YesterdaysLogsGoWhetherOrNotTheRunLogs) {
    std::string today = kvlogName(std::time(nullptr)), yesterday = kvlogName(std::time(nullptr) - 86400);
    for (int printLog : {1, 2}) {
        AgentSandbox box;
        box.installPlayer();
        box.setPrintLog(printLog);
        box.setInternetCafe();
        writeFile(box.logFolder() / yesterday, "yesterday\r\n");
        writeFile(box.logFolder() / "kvlog_2001-1-1.log", "old\r\n");
        writeFile(box.logFolder() / today, "earlier today\r\n");
        writeFile(box.logFolder() / "archive" / yesterday, "in a folder\r\n");
        ASSERT_EQ(box.run().exitCode, 0);

        EXPECT_FALSE(fs::exists(box.logFolder() / yesterday)) << printLog;
        EXPECT_FALSE(fs::exists(box.logFolder() / "kvlog_2001-1-1.log")) << printLog;
        EXPECT_TRUE(fs::exists(box.logFolder() / "archive" / yesterday)) << printLog;
        std::vector<std::string> lines = box.logLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), "earlier today");
        if (printLog == 1) {
            EXPECT_EQ(lines[1], kStartLine);
            EXPECT_EQ(lines.back(), kExitLine);
        } else {
            EXPECT_EQ(lines.size(), 1u);  // printlog = 2 writes nothing
        }
    }
}

// Without a usable registration no logger library is loaded: nothing is logged, and the
// agent still runs to its end.
TEST(Startup, NoLoggerWithoutAnExistingPlayer) {
    AgentSandbox box;
    box.installPlayer();
    box.registerPlayer(box.playerFolder() / "Gone.exe");
    box.setPrintLog(1);
    box.setInternetCafe();
    EXPECT_EQ(box.run().exitCode, 0);
    EXPECT_FALSE(fs::exists(box.logFolder()));

    box.registry().removeKey(
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe");
    EXPECT_EQ(box.run().exitCode, 0);
    EXPECT_FALSE(fs::exists(box.logFolder()));
}

// Only the exact word selects initiative mode, which starts no normal update thread and
// waits for the player.
TEST(Startup, CommandLineSelectsTheMode) {
    for (std::vector<std::string> args : {std::vector<std::string>{"Initiative"}, {"initiative", ""}}) {
        AgentSandbox box;
        box.installPlayer();
        box.setPrintLog(1);
        box.setInternetCafe();
        ASSERT_EQ(box.run(args).exitCode, 0);
        EXPECT_TRUE(hasLine(box.logLines(), agentLine("启动正常升级线程"))) << args[0];
    }

    AgentSandbox box;
    box.installPlayer();
    box.setPrintLog(1);
    auto agent = box.start({"initiative"});
    ASSERT_TRUE(waitUntil([&] { return logged(box.logLines(), "等待线程开始"); }));
    EXPECT_TRUE(agent->running());
    std::vector<std::string> lines = box.logLines();
    EXPECT_TRUE(hasLine(lines, agentLine("启动参数：initiative")));
    EXPECT_FALSE(hasLine(lines, agentLine("启动正常升级线程")));
    EXPECT_FALSE(hasLine(lines, agentLine("正常升级线程开始")));
}

// printlog is an integer setting: without the data folder it is read beside the executable,
// but never while the data folder exists.
TEST(Startup, PrintLogBesideTheExecutableOnlyWithoutADataFolder) {
    for (bool dataFolder : {false, true}) {
        AgentSandbox box;
        box.installPlayer();
        box.setInternetCafe();
        fs::path exe = box.path() / "bin" / buildProgram("OvUpdate").filename();
        fs::create_directories(exe.parent_path());
        fs::copy_file(buildProgram("OvUpdate"), exe);
        writeFile(exe.parent_path() / "OvUpdate.ini", "[Test]\r\nprintlog=1\r\n");
        if (!dataFolder) fs::remove_all(box.dataFolder());

        ASSERT_EQ(box.start({}, exe)->wait(10000).exitCode, 0);
        std::vector<std::string> lines = box.logLines();
        if (dataFolder) {
            EXPECT_TRUE(lines.empty());
        } else {
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.front(), kStartLine);
            EXPECT_EQ(lines.back(), kExitLine);
        }
    }
}

// Each program beside the agent answers a bad command line or missing input the same way:
// exit code 1, one line naming the program and the fault, then the usage text. (OvServer
// is built for Linux only; ovpublish's errors are tested with the tool.)
TEST(Startup, ToolsRefuseBadArgumentsWithOneLineAndTheUsage) {
    AgentSandbox box;
    box.setEnv("INSTALLER_MARKER", "");
    const std::string missing = (box.path() / "missing").u8string();
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"OvServer", {"--port", "abc"}},
        {"OvServer", {"--port", "70000"}},
        {"OvServer", {"--root"}},
        {"OvServer", {"--root", missing}},
        {"OvServer", {"--colour", "red"}},
        {"OrvixPlayer", {}},
        {"OrvixPlayer", {"play"}},
        {"OrvixPlayer", {"send"}},
        {"OrvixPlayer", {"send", "--wait", "soon", "requestxml"}},
        {"OrvixPlayer", {"update", "--timeout"}},
        {"OrvixPlayer", {"hold"}},
        {"OrvixPlayer", {"window", "--for", "ever"}},
        {"OrvixSetup", {}},
    };
    int n = 0;
    for (const auto& [program, args] : cases) {
        if (!fs::exists(buildProgram(program))) continue;
        std::string output = "tool-" + std::to_string(++n) + ".txt",
                    label = program + " case " + std::to_string(n);
        EXPECT_EQ(box.start(args, buildProgram(program), output)->wait(10000).exitCode, 1) << label;
        std::vector<std::string> lines = readLines(box.path() / output);
        ASSERT_GE(lines.size(), 2u) << label;
        EXPECT_EQ(lines[0].rfind(program + ": ", 0), 0u) << label << ": " << lines[0];
        EXPECT_EQ(lines[1].rfind("usage: ", 0), 0u) << label << ": " << lines[1];
    }
}
