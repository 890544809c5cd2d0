// The stand-in logger library, driven the way the agent drives it: lines written at once
// from several threads and several processes all arrive whole.
#include <cstdlib>
#include <set>
#include <thread>

#include "app/logger_interface.h"
#include "e2e/e2e_fixture.h"
#include "platform/library.h"
#include "text/text.h"

using namespace e2e;

namespace {

constexpr int kLinesPerWriter = 400;
// Set when this test program is started again as one of the writing processes.
constexpr char kWriterVariable[] = "OV_LOGGER_WRITER";
// A folder in which each writer makes the file "ready<writer>" once its logger runs, then
// waits for the file "go" to start writing.
constexpr char kFolderVariable[] = "OV_LOGGER_FOLDER";

std::u16string lineOf(int writer, int n) {
    return u"[OvUpdate.exe] 写入者 " + text::fromInt(writer) + u" 第" + text::fromInt(n) + u"行 " +
           std::u16string(static_cast<size_t>(n % 50), u'x') + u"\r\n";
}

void writeLines(app::ILogger* logger, int writer) {
    for (int n = 0; n < kLinesPerWriter; ++n)
        if (!logger->write(u"kvlog_2014-3-7", 5, lineOf(writer, n).c_str())) std::abort();
}

// The library of the build folder, its logger started; stopped and released when dropped.
class LoadedLogger {
public:
    LoadedLogger() {
        m_library = plat::loadLibrary(text::fromUtf8(windowsPath(programFolder() / "Lmlogger.dll")));
        if (!m_library) return;
        auto create =
            reinterpret_cast<app::CreateLoggerFunction>(plat::librarySymbol(m_library, app::kCreateInterfaceExport));
        m_destroy = reinterpret_cast<app::DeleteLoggerFunction>(plat::librarySymbol(m_library, app::kDeleteInterfaceExport));
        if (create && m_destroy) m_logger = create();
        if (m_logger) m_logger->start();
    }
    ~LoadedLogger() {
        if (m_logger) m_destroy();
        if (m_library) plat::freeLibrary(m_library);
    }
    app::ILogger* get() const { return m_logger; }

private:
    plat::LibraryHandle m_library = nullptr;
    app::DeleteLoggerFunction m_destroy = nullptr;
    app::ILogger* m_logger = nullptr;
};

// A writing process: writes its lines at the sign, and ends before any test runs.
class WriterProcess : public ::testing::Environment {
public:
    void SetUp() override {
        const char* writer = std::getenv(kWriterVariable);
        if (!writer) return;
        LoadedLogger logger;
        fs::path folder = fs::u8path(std::getenv(kFolderVariable));
        if (logger.get()) writeFile(folder / (std::string("ready") + writer), "");
        bool go = logger.get() && waitUntil([&] { return fs::exists(folder / "go"); });
        if (go) writeLines(logger.get(), std::atoi(writer));
        std::exit(go && logger.get()->stop() ? 0 : 1);
    }
};
::testing::Environment* const kWriterProcess = ::testing::AddGlobalTestEnvironment(new WriterProcess);

}  // namespace

TEST(LoggerStandIn, ConcurrentWritersFromThreadsAndProcessesKeepLinesWhole) {
    AgentSandbox box;
    std::vector<std::unique_ptr<Process>> children;
    for (int writer : {100, 101}) {
        std::string name = std::to_string(writer);
        Launch launch{thisProgram(), {}, box.environment(), box.path(), box.path() / ("writer" + name + ".txt")};
        launch.env[kWriterVariable] = name;
        launch.env[kFolderVariable] = box.path().u8string();
        children.push_back(Process::start(launch));
        ASSERT_NE(children.back(), nullptr);
        ASSERT_TRUE(waitUntil([&] { return fs::exists(box.path() / ("ready" + name)); }))
            << box.read("writer" + name + ".txt");
    }
    {
        LoadedLogger logger;
        ASSERT_NE(logger.get(), nullptr);
        std::vector<std::thread> threads;
        for (int writer = 0; writer < 3; ++writer) threads.emplace_back(writeLines, logger.get(), writer);
        writeFile(box.path() / "go", "");
        for (std::thread& t : threads) t.join();
        for (auto& child : children) EXPECT_EQ(child->wait(20000).exitCode, 0);
        EXPECT_TRUE(logger.get()->stop());
    }

    std::vector<std::string> lines = readLines(box.logFolder() / "kvlog_2014-3-7.log");
    std::set<std::string> expected;
    for (int writer : {0, 1, 2, 100, 101})
        for (int n = 0; n < kLinesPerWriter; ++n) {
            std::string line = text::toUtf8(lineOf(writer, n));
            expected.insert(line.substr(0, line.size() - 2));
        }
    EXPECT_EQ(lines.size(), expected.size());
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected);
}
