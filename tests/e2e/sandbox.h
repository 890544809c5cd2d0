// A host of its own for one end-to-end run of the real agent: application data, registry
// file, runtime folder (pipe, mutexes, desktop), Windows folder and deployment file all
// live in a temporary folder, and the agent is started with the environment pointing
// there. Header only, for every end-to-end test.
#pragma once
#ifndef _WIN32  // starting programs is for the Linux end-to-end tests only
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

inline std::string binDir() { return OV_BIN_DIR; }

// "/tmp/a/b" as the agent and its data write it: "\tmp\a\b".
inline std::string windowsPath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

inline void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Lines of a text file without their line ends ("\r\n" or "\n").
inline std::vector<std::string> readLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::string content = readFile(path), line;
    for (size_t start = 0; start < content.size();) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

inline bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines)
        if (l == line) return true;
    return false;
}

// "kvlog_<year>-<month>-<day>.log" of the given day (0 today, -1 yesterday), local time.
inline std::string kvlogName(int dayOffset = 0) {
    time_t when = time(nullptr) + dayOffset * 86400;
    struct tm local {};
    localtime_r(&when, &local);
    return "kvlog_" + std::to_string(local.tm_year + 1900) + "-" + std::to_string(local.tm_mon + 1) + "-" +
           std::to_string(local.tm_mday) + ".log";
}

struct RunResult {
    int exitCode = -1;      // -1 when killed or ended by a signal
    bool timedOut = false;  // killed at the time limit
    long long elapsedMs = 0;
};

#ifndef _WIN32
// A started program; killed when dropped while it still runs.
class Process {
public:
    explicit Process(pid_t pid) : m_pid(pid), m_start(std::chrono::steady_clock::now()) {}
    ~Process() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool running() {
        if (m_pid <= 0) return false;
        return !reap(WNOHANG);
    }
    // Waits up to timeoutMs, then kills it.
    RunResult wait(int timeoutMs) {
        auto deadline = m_start + std::chrono::milliseconds(timeoutMs);
        while (m_pid > 0 && !reap(WNOHANG)) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(m_pid, SIGKILL);
                reap(0);
                m_result.timedOut = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return m_result;
    }
    void kill() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            reap(0);
        }
    }
    pid_t pid() const { return m_pid; }

private:
    bool reap(int flags) {
        int status = 0;
        pid_t r = waitpid(m_pid, &status, flags);
        if (r == 0) return false;
        m_result.exitCode = r == m_pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        m_result.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - m_start)
                                 .count();
        m_pid = 0;
        return true;
    }

    pid_t m_pid;
    std::chrono::steady_clock::time_point m_start;
    RunResult m_result;
};
#endif

class Sandbox {
public:
    // Folders: appdata (with the player's data folder), run, windows, player.
    Sandbox() {
        std::string pattern = (fs::temp_directory_path() / "ovupdate-e2e-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        m_root = pattern;
        fs::create_directories(dataFolder());
        fs::create_directories(runtimeFolder());
        fs::create_directories(windowsFolder());
        fs::create_directories(playerFolder());
        // Any server the agent might reach defaults to a closed local port.
        setDeploy("[servers]\ndomain1=http://127.0.0.1:9\ndomain2=http://127.0.0.1:9\n"
                  "domain3=http://127.0.0.1:9\nreport=http://127.0.0.1:9\n");
    }
    ~Sandbox() {
        if (std::getenv("OV_KEEP_SANDBOX")) return;
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const fs::path& root() const { return m_root; }
    fs::path appData() const { return m_root / "appdata"; }
    fs::path dataFolder() const { return appData() / "Lumora Video" / "Orvix"; }
    fs::path logFolder() const { return appData() / "kvlog"; }
    fs::path runtimeFolder() const { return m_root / "run"; }
    fs::path windowsFolder() const { return m_root / "windows"; }
    fs::path playerFolder() const { return m_root / "player"; }
    fs::path playerExe() const { return playerFolder() / "Orvix.exe"; }
    fs::path registryFile() const { return m_root / "registry.reg"; }
    fs::path deployFile() const { return m_root / "OvUpdate.deploy.ini"; }

    // Registry values; name empty is the key's default value. key starts with the hive.
    void setRegistryValue(const std::string& key, const std::string& name, const std::string& value) {
        m_registry[key][name] = value;
        std::string text = "Windows Registry Editor Version 5.00\n";
        for (const auto& [k, values] : m_registry) {
            text += "\n[" + k + "]\n";
            for (const auto& [n, v] : values) text += (n.empty() ? "@" : quoted(n)) + "=" + quoted(v) + "\n";
        }
        writeFile(registryFile(), text);
    }

    // The player's folder with copies of the maker-library stand-ins, a fake Orvix.exe and
    // its App Paths registration.
    void installPlayer() {
        for (const char* name : {"Lmlogger.dll", "CID.dll", "CrashReport.dll"})
            fs::copy_file(fs::path(binDir()) / name, playerFolder() / name, fs::copy_options::overwrite_existing);
        writeFile(playerExe(), "MZ stand-in player\n");
        registerPlayer(playerExe());
    }
    void registerPlayer(const fs::path& exe) {
        setRegistryValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe", "",
                         windowsPath(exe.string()));
    }

    // Appends "[section]\nkey=value" to an initialisation file (a bare name lies in the data
    // folder). Enough for files the test writes from scratch.
    void addSetting(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value) {
        fs::path path = file.find('/') == std::string::npos ? dataFolder() / file : fs::path(file);
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::app) << "[" << section << "]\r\n" << key << "=" << value << "\r\n";
    }
    void setPrintLog(int value) { addSetting("OvUpdate.ini", "Test", "printlog", std::to_string(value)); }
    // bm = 1 in the internet-cafe edition's Kavo.ini: the background run ends before any update.
    void setInternetCafe() {
        addSetting((appData() / "Lumora Video" / "Brisa" / "Kavo.ini").string(), "main", "bm", "1");
    }
    void setDeploy(const std::string& content) { writeFile(deployFile(), content); }
    void setEnv(const std::string& name, const std::string& value) { m_extraEnv[name] = value; }

    std::map<std::string, std::string> environment() const {
        std::map<std::string, std::string> env = m_extraEnv;
        env["APPDATA"] = appData().string();
        env["OVUPDATE_REGISTRY"] = registryFile().string();
        env["XDG_RUNTIME_DIR"] = runtimeFolder().string();
        env["WINDIR"] = windowsFolder().string();
        env["OVUPDATE_DEPLOY"] = deployFile().string();
        return env;
    }
    // Points this test process at the sandbox too (for in-process calls into the agent's code).
    void applyToThisProcess() const {
        for (const auto& [name, value] : environment()) setenv(name.c_str(), value.c_str(), 1);
    }

#ifndef _WIN32
    // Starts program (default: the agent) with args in the sandbox's environment; its
    // output goes to <root>/output.txt.
    std::unique_ptr<Process> start(const std::vector<std::string>& args = {}, std::string program = "") const {
        if (program.empty()) program = binDir() + "/OvUpdate";
        std::vector<std::string> envText;
        std::map<std::string, std::string> env = environment();
        for (char** e = environ; *e; ++e) {
            std::string entry = *e;
            if (!env.count(entry.substr(0, entry.find('=')))) envText.push_back(entry);
        }
        for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
        std::vector<std::string> argText = {program};
        argText.insert(argText.end(), args.begin(), args.end());
        std::string output = (m_root / "output.txt").string();
        std::string workingFolder = m_root.string();  // files the agent names bare land here

        // Everything the child needs is made before the fork: it may only call exec then.
        std::vector<char*> argv, envp;
        for (std::string& a : argText) argv.push_back(a.data());
        for (std::string& e : envText) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            if (chdir(workingFolder.c_str()) != 0) _exit(126);
            int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (out >= 0) {
                dup2(out, 1);
                dup2(out, 2);
            }
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        return std::make_unique<Process>(pid);
    }
    RunResult run(const std::vector<std::string>& args = {}, int timeoutMs = 10000) const {
        return start(args)->wait(timeoutMs);
    }
#endif

    fs::path todayLog() const { return logFolder() / kvlogName(0); }
    std::vector<std::string> logLines() const { return readLines(todayLog()); }

private:
    static std::string quoted(const std::string& s) {
        std::string q = "\"";
        for (char c : s) {
            if (c == '\\' || c == '"') q += '\\';
            q += c;
        }
        return q + "\"";
    }

    fs::path m_root;
    std::map<std::string, std::map<std::string, std::string>> m_registry;
    std::map<std::string, std::string> m_extraEnv;
};

// "[OvUpdate.exe] " + text, as the agent's log lines read.
inline std::string agentLine(const std::string& text) { return "[OvUpdate.exe] " + text; }

}  // namespace e2e
