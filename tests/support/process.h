// Starting another program from a test: the agent, the stand-in player, the test program
// itself. One interface, two backends: fork and exec on POSIX, CreateProcessW on Windows,
// where every started program belongs to a job object that ends it with the test program.
#pragma once
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct Launch {
    std::filesystem::path program;
    std::vector<std::string> args;           // after the program's own name
    std::map<std::string, std::string> env;  // on top of this process's environment
    std::filesystem::path workingFolder;     // empty: this process's
    std::filesystem::path output;            // standard output and error appended here;
                                             // empty: discarded
};

struct ExitStatus {
    int exitCode = -1;      // -1 when it was killed
    bool timedOut = false;  // killed at the time limit
    long long elapsedMs = 0;
};

// A started program; killed when dropped while it still runs.
class Process {
public:
    // Null when the program could not be started.
    static std::unique_ptr<Process> start(const Launch& launch);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool running();
    // Waits up to timeoutMs for the end, then kills it.
    ExitStatus wait(int timeoutMs);
    void kill();

    struct Native;

private:
    explicit Process(std::unique_ptr<Native> native);
    bool reap(int timeoutMs);  // true once ended (the status is then recorded)

    std::unique_ptr<Native> m_native;
    ExitStatus m_status;
    bool m_ended = false;
};

// This test program's executable, and the folder it lies in (with the agent, the
// stand-ins and the other test programs of the build).
std::filesystem::path thisProgram();
std::filesystem::path programFolder();
// A program of the build folder by its name without extension ("OvUpdate").
std::filesystem::path buildProgram(const std::string& name);

}  // namespace testsupport
