// The stand-in logger library, driven the way the agent drives it: lines written at once
// from several threads and several processes all arrive whole.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "app/logger_interface.h"
#include "platform/library.h"
#include "platform/text.h"
#include "sandbox.h"

namespace {

constexpr int kLinesPerWriter = 400;

std::u16string lineOf(int writer, int n) {
    return u"[OvUpdate.exe] 写入者 " + text::fromInt(writer) + u" 第" + text::fromInt(n) + u"行 " +
           std::u16string(static_cast<size_t>(n % 50), u'x') + u"\r\n";
}

void writeLines(ILogger* logger, int writer) {
    for (int n = 0; n < kLinesPerWriter; ++n)
        if (!logger->write(u"kvlog_2014-3-7", 5, lineOf(writer, n).c_str())) std::abort();
}

}  // namespace

TEST(LoggerStandIn, ConcurrentWritersFromThreadsAndProcessesKeepLinesWhole) {
    e2e::Sandbox box;
    box.applyToThisProcess();
    plat::LibraryHandle library = plat::loadLibrary(text::fromUtf8(e2e::windowsPath(e2e::binDir() + "/Lmlogger.dll")));
    ASSERT_NE(library, nullptr);
    auto create = reinterpret_cast<CreateLoggerFunction>(plat::librarySymbol(library, kCreateInterfaceExport));
    auto destroy = reinterpret_cast<DeleteLoggerFunction>(plat::librarySymbol(library, kDeleteInterfaceExport));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(destroy, nullptr);
    ILogger* logger = create();
    ASSERT_NE(logger, nullptr);
    logger->start();

    // Two processes wait at a pipe, so that they write while the threads below do.
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> children;
    for (int writer : {100, 101}) {
        pid_t child = fork();
        if (child == 0) {
            char c;
            (void)!::read(go[0], &c, 1);
            writeLines(logger, writer);
            _exit(0);
        }
        children.push_back(child);
    }
    std::vector<std::thread> threads;
    for (int writer = 0; writer < 3; ++writer) threads.emplace_back(writeLines, logger, writer);
    ASSERT_EQ(::write(go[1], "gg", 2), 2);
    for (std::thread& t : threads) t.join();
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_TRUE(logger->stop());
    destroy();
    plat::freeLibrary(library);

    std::vector<std::string> lines = e2e::readLines(box.logFolder() / "kvlog_2014-3-7.log");
    std::set<std::string> expected;
    for (int writer : {0, 1, 2, 100, 101})
        for (int n = 0; n < kLinesPerWriter; ++n) {
            std::string line = text::toUtf8(lineOf(writer, n));
            expected.insert(line.substr(0, line.size() - 2));
        }
    EXPECT_EQ(lines.size(), expected.size());
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected);
}
