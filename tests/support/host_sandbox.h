// A host of its own for running the real agent: application data, registry, runtime
// folder (pipe, mutexes, desktop), Windows folder and deployment file all belong to one
// temporary folder, and the programs it starts see them.
//
// On POSIX every location comes from the environment. On Windows the agent asks the
// shell for the roaming application-data folder, so the user's AppData shell folder is
// pointed into the sandbox for its lifetime and put back afterwards; registry values are
// real ones, removed again (see host_registry.h); pipes and mutexes have global names, so
// sandboxes there follow one another and never run side by side.
#pragma once
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/host_registry.h"
#include "support/process.h"

namespace testsupport {

namespace fs = std::filesystem;

// A path as the agent and its data write it: "\" between the parts.
std::string windowsPath(const fs::path& path);

void writeFile(const fs::path& path, const std::string& bytes);
std::string readFile(const fs::path& path);
// Lines of a text file without their line ends ("\r\n" or "\n").
std::vector<std::string> readLines(const fs::path& path);
bool hasLine(const std::vector<std::string>& lines, const std::string& line);

// "kvlog_<year>-<month>-<day>.log" of the day of when, local time.
std::string kvlogName(std::time_t when);

class HostSandbox {
public:
    // Folders: appdata (with the player's data folder), run, windows, player. Every server
    // the agent might reach is a closed local port until setDeploy says otherwise.
    HostSandbox();
    ~HostSandbox();
    HostSandbox(const HostSandbox&) = delete;
    HostSandbox& operator=(const HostSandbox&) = delete;

    const fs::path& root() const { return m_root; }
    fs::path appData() const { return m_root / "appdata"; }
    fs::path dataFolder() const { return appData() / "Lumora Video" / "Orvix"; }
    fs::path logFolder() const { return appData() / "kvlog"; }
    fs::path runtimeFolder() const { return m_root / "run"; }
    fs::path windowsFolder() const { return m_root / "windows"; }
    fs::path playerFolder() const { return m_root / "player"; }
    fs::path playerExe() const { return playerFolder() / "Orvix.exe"; }
    fs::path deployFile() const { return m_root / "OvUpdate.deploy.ini"; }
    fs::path registryFile() const { return m_root / "registry.reg"; }  // POSIX only

    HostRegistry& registry() { return *m_registry; }
    void setRegistryValue(const std::string& key, const std::string& name, const std::string& value);

    // The player's folder with copies of the maker-library stand-ins, a fake Orvix.exe and
    // its App Paths registration.
    void installPlayer();
    void registerPlayer(const fs::path& exe);

    // Appends "[section]\nkey=value" to an initialisation file (a bare name lies in the
    // data folder). Enough for files the test writes from scratch.
    void addSetting(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value);
    void setPrintLog(int value);
    // bm = 1 in the internet-cafe edition's Kavo.ini: the background run ends before any update.
    void setInternetCafe();
    void setDeploy(const std::string& content);
    // Every domain and the crash-report host at base ("http://127.0.0.1:PORT").
    void pointServersAt(const std::string& base);
    void setEnv(const std::string& name, const std::string& value) { m_extraEnv[name] = value; }

    // What a started program finds in its environment.
    std::map<std::string, std::string> environment() const;
    // Points this test process at the sandbox too (for in-process calls into the agent's
    // code), until the sandbox is dropped.
    void applyToThisProcess();

    // Starts program (default: the agent) with args in the sandbox's environment and in
    // the sandbox's root folder; its output is appended to <root>/<output>.
    std::unique_ptr<Process> start(const std::vector<std::string>& args = {}, const fs::path& program = {},
                                   const std::string& output = "output.txt") const;
    ExitStatus run(const std::vector<std::string>& args = {}, int timeoutMs = 10000) const;
    std::string output(const std::string& name = "output.txt") const { return readFile(m_root / name); }

    // The agent's log: the log files of every day since the sandbox was made, in order.
    std::vector<std::string> logLines() const;
    void removeLogs() const;

private:
    fs::path m_root;
    std::time_t m_made;
    std::unique_ptr<HostRegistry> m_registry;
    std::map<std::string, std::string> m_extraEnv;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_savedEnv;
    std::optional<std::u16string> m_savedAppData;  // Windows: the shell folder's value before
};

// "[OvUpdate.exe] " + text, as the agent's log lines read.
std::string agentLine(const std::string& text);

}  // namespace testsupport
