#include "support/agent_sandbox.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "support/file_io.h"

namespace testsupport {

namespace {

// On Windows the registry is the machine's: a test program that was killed leaves its
// values behind, pointing into a sandbox that may still exist. Every key the agent reads
// is taken away before a sandbox begins, so that it starts from a host without them.
void forgetEarlierRegistrations() {
    for (const char* key :
         {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe",
          "HKEY_CLASSES_ROOT\\NimboProxy", "HKEY_CURRENT_USER\\Kavo.FDS"})
        forgetRegistryKey(key);
}

}  // namespace

std::vector<std::string> readLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::string content = readFile(path);
    for (size_t start = 0; start < content.size();) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string kvlogName(std::time_t when) {
    std::tm local = *std::localtime(&when);
    return "kvlog_" + std::to_string(local.tm_year + 1900) + "-" + std::to_string(local.tm_mon + 1) + "-" +
           std::to_string(local.tm_mday) + ".log";
}

std::string agentLine(const std::string& text) { return "[OvUpdate.exe] " + text; }

AgentSandbox::AgentSandbox() : m_made(std::time(nullptr)) {
    forgetEarlierRegistrations();
    fs::create_directories(dataFolder());
    fs::create_directories(playerFolder());
}

void AgentSandbox::installPlayer() {
    for (const char* name : {"Lmlogger.dll", "CID.dll", "CrashReport.dll"})
        writeFile(playerFolder() / name, readFile(programFolder() / name));
    writeFile(playerExe(), "MZ stand-in player\n");
    registerPlayer(playerExe());
}

void AgentSandbox::addSetting(const std::string& file, const std::string& section, const std::string& key,
                              const std::string& value) const {
    fs::path path = fs::u8path(file);
    if (!path.has_parent_path()) path = dataFolder() / path;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::app) << "[" << section << "]\r\n"
                                                          << key << "=" << value << "\r\n";
}

void AgentSandbox::setPrintLog(int value) const {
    addSetting("OvUpdate.ini", "Test", "printlog", std::to_string(value));
}

void AgentSandbox::setInternetCafe() const {
    addSetting((appData() / "Lumora Video" / "Brisa" / "Kavo.ini").u8string(), "main", "bm", "1");
}

std::unique_ptr<Process> AgentSandbox::start(const std::vector<std::string>& args, const fs::path& program,
                                             const std::string& output) const {
    Launch launch;
    launch.program = program.empty() ? buildProgram("OvUpdate") : program;
    launch.args = args;
    launch.env = environment();
    launch.env.insert(m_extraEnv.begin(), m_extraEnv.end());
    launch.workingFolder = path();  // files the agent names bare land here
    launch.output = path() / output;
    std::unique_ptr<Process> started = Process::start(launch);
    if (!started) {
        std::fprintf(stderr, "cannot start %s\n", launch.program.u8string().c_str());
        std::abort();  // every test that starts a program needs it
    }
    return started;
}

ExitStatus AgentSandbox::run(const std::vector<std::string>& args, int timeoutMs) const {
    return start(args)->wait(timeoutMs);
}

std::vector<std::string> AgentSandbox::logLines() const {
    std::vector<std::string> names = {kvlogName(m_made)};
    std::string today = kvlogName(std::time(nullptr));
    if (today != names.front()) names.push_back(today);  // a test that ran across midnight
    std::vector<std::string> lines;
    for (const std::string& name : names) {
        std::vector<std::string> day = readLines(logFolder() / name);
        lines.insert(lines.end(), day.begin(), day.end());
    }
    return lines;
}

void AgentSandbox::removeLogs() const {
    std::error_code ignored;
    fs::remove_all(logFolder(), ignored);
}

}  // namespace testsupport
