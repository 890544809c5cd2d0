// A host sandbox in which the real agent runs as a program of its own: the player's
// folder with the maker-library stand-ins and its registration, the settings a run reads,
// programs started with the sandbox's environment in its folder, and the agent's log.
//
// On Windows the agent asks the shell for the roaming application-data folder, which the
// host sandbox points into its folder (see win32/posix_shims.h), and reads the real
// registry, where the sandbox's values live until it ends. Pipes, mutexes and windows have
// names global to the machine there, so sandboxes follow one another, never side by side.
#pragma once
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/host_sandbox.h"
#include "support/process.h"

namespace testsupport {

// Lines of a text file without their line ends ("\r\n" or "\n").
std::vector<std::string> readLines(const fs::path& path);
// "kvlog_<year>-<month>-<day>.log" of the day of when, local time.
std::string kvlogName(std::time_t when);
// "[OvUpdate.exe] " + text, as the agent's log lines read.
std::string agentLine(const std::string& text);

class AgentSandbox : public HostSandbox {
public:
    // Besides the host's folders: the player's data folder and the player's folder.
    AgentSandbox();

    fs::path logFolder() const { return appData() / "kvlog"; }
    fs::path playerFolder() const { return path() / "player"; }
    fs::path playerExe() const { return playerFolder() / "Orvix.exe"; }

    // The player's folder with copies of the maker-library stand-ins, a fake Orvix.exe and
    // its App Paths registration.
    void installPlayer();

    // Appends "[section]\r\nkey=value" to an initialisation file (a bare name lies in the
    // data folder). Enough for files the test writes from scratch.
    void addSetting(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value) const;
    void setPrintLog(int value) const;
    // bm = 1 in the internet-cafe edition's Kavo.ini: the background run ends before any update.
    void setInternetCafe() const;
    // One more variable for the programs started from now on.
    void setEnv(const std::string& name, const std::string& value) { m_extraEnv[name] = value; }

    // Starts program (default: the agent) with args, in the sandbox's folder and
    // environment; its output is appended to the file output of the sandbox's folder.
    std::unique_ptr<Process> start(const std::vector<std::string>& args = {}, const fs::path& program = {},
                                   const std::string& output = "output.txt") const;
    ExitStatus run(const std::vector<std::string>& args = {}, int timeoutMs = 10000) const;

    // The agent's log: the log files of every day since the sandbox was made, in order.
    std::vector<std::string> logLines() const;
    void removeLogs() const;

private:
    std::time_t m_made;
    std::map<std::string, std::string> m_extraEnv;
};

}  // namespace testsupport
