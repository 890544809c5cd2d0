#include "support/host_sandbox.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#ifdef _WIN32
#include <windows.h>
#endif

namespace testsupport {

namespace {

const char kClosedPort[] = "http://127.0.0.1:9";

fs::path uniqueFolder(const std::string& prefix) {
    std::random_device seed;
    std::mt19937 random(seed());
    for (;;) {
        fs::path candidate = fs::temp_directory_path() / (prefix + std::to_string(random() % 100000000));
        if (fs::create_directory(candidate)) return candidate;
    }
}

void setVariable(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
#endif
}

#ifdef _WIN32
// The roaming application-data folder is what the user's AppData shell folder says;
// the shell reads it afresh on every call.
const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kWindowsDefault[] = L"%USERPROFILE%\\AppData\\Roaming";

std::optional<std::u16string> appDataShellFolder() {
    wchar_t value[2048] = {};
    DWORD bytes = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"AppData", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ |
                     RRF_NOEXPAND, nullptr, value, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    return std::u16string(value, value + wcslen(value));
}

bool folderExists(const std::wstring& unexpanded) {
    wchar_t path[2048] = {};
    DWORD n = ExpandEnvironmentStringsW(unexpanded.c_str(), path, 2048);
    DWORD attributes = n > 0 && n <= 2048 ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void setAppDataShellFolder(std::wstring value) {
    // One left pointing at a sandbox that is gone (by a test program that was killed)
    // becomes the Windows default again.
    if (!folderExists(value)) value = kWindowsDefault;
    RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"AppData", REG_EXPAND_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}
#endif

}  // namespace

std::string windowsPath(const fs::path& path) {
    std::string text = path.u8string();
    for (char& c : text)
        if (c == '/') c = '\\';
    return text;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

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

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines)
        if (l == line) return true;
    return false;
}

std::string kvlogName(std::time_t when) {
    std::tm local = *std::localtime(&when);
    return "kvlog_" + std::to_string(local.tm_year + 1900) + "-" + std::to_string(local.tm_mon + 1) + "-" +
           std::to_string(local.tm_mday) + ".log";
}

std::string agentLine(const std::string& text) { return "[OvUpdate.exe] " + text; }

HostSandbox::HostSandbox() : m_root(uniqueFolder("ovupdate-e2e-")), m_made(std::time(nullptr)) {
    m_registry = std::make_unique<HostRegistry>(registryFile());
    for (const fs::path& folder : {dataFolder(), runtimeFolder(), windowsFolder(), playerFolder()})
        fs::create_directories(folder);
#ifdef _WIN32
    m_savedAppData = appDataShellFolder();
    setAppDataShellFolder(appData().wstring());
#endif
    pointServersAt(kClosedPort);
}

HostSandbox::~HostSandbox() {
    for (const auto& [name, value] : m_savedEnv) setVariable(name, value);
#ifdef _WIN32
    setAppDataShellFolder(m_savedAppData ? std::wstring(m_savedAppData->begin(), m_savedAppData->end())
                                         : kWindowsDefault);
#endif
    m_registry.reset();
    if (std::getenv("OV_KEEP_SANDBOX")) return;
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
}

void HostSandbox::setRegistryValue(const std::string& key, const std::string& name, const std::string& value) {
    if (!m_registry->set(key, name, value)) std::abort();  // nothing a test checks would mean anything
}

void HostSandbox::installPlayer() {
    for (const char* name : {"Lmlogger.dll", "CID.dll", "CrashReport.dll"})
        fs::copy_file(programFolder() / name, playerFolder() / name, fs::copy_options::overwrite_existing);
    writeFile(playerExe(), "MZ stand-in player\n");
    registerPlayer(playerExe());
}

void HostSandbox::registerPlayer(const fs::path& exe) {
    setRegistryValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Orvix.exe", "",
                     windowsPath(exe));
}

void HostSandbox::addSetting(const std::string& file, const std::string& section, const std::string& key,
                             const std::string& value) {
    fs::path path = fs::u8path(file);
    if (!path.has_parent_path()) path = dataFolder() / path;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::app) << "[" << section << "]\r\n" << key << "=" << value << "\r\n";
}

void HostSandbox::setPrintLog(int value) { addSetting("OvUpdate.ini", "Test", "printlog", std::to_string(value)); }

void HostSandbox::setInternetCafe() {
    addSetting((appData() / "Lumora Video" / "Brisa" / "Kavo.ini").u8string(), "main", "bm", "1");
}

void HostSandbox::setDeploy(const std::string& content) { writeFile(deployFile(), content); }

void HostSandbox::pointServersAt(const std::string& base) {
    setDeploy("[servers]\ndomain1=" + base + "\ndomain2=" + base + "\ndomain3=" + base + "\nreport=" + base + "\n");
}

std::map<std::string, std::string> HostSandbox::environment() const {
    std::map<std::string, std::string> env = m_extraEnv;
    env["OVUPDATE_DEPLOY"] = deployFile().u8string();
#ifndef _WIN32
    env["APPDATA"] = appData().string();
    env["OVUPDATE_REGISTRY"] = registryFile().string();
    env["XDG_RUNTIME_DIR"] = runtimeFolder().string();
    env["WINDIR"] = windowsFolder().string();
#endif
    return env;
}

void HostSandbox::applyToThisProcess() {
    for (const auto& [name, value] : environment()) {
        const char* old = std::getenv(name.c_str());
        m_savedEnv.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setVariable(name, value);
    }
}

std::unique_ptr<Process> HostSandbox::start(const std::vector<std::string>& args, const fs::path& program,
                                            const std::string& output) const {
    Launch launch;
    launch.program = program.empty() ? buildProgram("OvUpdate") : program;
    launch.args = args;
    launch.env = environment();
    launch.workingFolder = m_root;  // files the agent names bare land here
    launch.output = m_root / output;
    std::unique_ptr<Process> started = Process::start(launch);
    if (!started) std::abort();
    return started;
}

ExitStatus HostSandbox::run(const std::vector<std::string>& args, int timeoutMs) const {
    return start(args)->wait(timeoutMs);
}

std::vector<std::string> HostSandbox::logLines() const {
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

void HostSandbox::removeLogs() const {
    std::error_code ignored;
    fs::remove_all(logFolder(), ignored);
}

}  // namespace testsupport
