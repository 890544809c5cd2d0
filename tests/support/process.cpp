#include "support/process.h"

#include <chrono>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <cwctype>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace testsupport {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

#ifdef _WIN32

struct Process::Native {
    HANDLE process = nullptr;
    Clock::time_point started = Clock::now();
    ~Native() {
        if (process) CloseHandle(process);
    }
};

namespace {

std::wstring widen(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

std::wstring upper(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towupper(c));
    return s;
}

// One argument as the C runtime of the started program splits it back: quotes around
// anything with blanks (or nothing), backslashes doubled only where a quote follows.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring q = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        q.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        q += c;
    }
    q.append(backslashes * 2, L'\\');
    return q + L"\"";
}

std::wstring commandLine(const Launch& launch) {
    std::wstring line = quoted(launch.program.wstring());
    for (const std::string& arg : launch.args) line += L" " + quoted(widen(arg));
    return line;
}

// This process's environment with the overrides, names compared without case, sorted as
// Windows keeps it, as one block of NUL-ended entries.
std::wstring environmentBlock(const std::map<std::string, std::string>& overrides) {
    std::map<std::wstring, std::wstring> entries;  // upper-cased name -> "name=value"
    wchar_t* current = GetEnvironmentStringsW();
    for (const wchar_t* e = current; e && *e; e += wcslen(e) + 1) {
        std::wstring entry = e;
        size_t equals = entry.find(L'=', 1);  // names like "=C:" start with "="
        if (equals != std::wstring::npos) entries[upper(entry.substr(0, equals))] = entry;
    }
    if (current) FreeEnvironmentStringsW(current);
    for (const auto& [name, value] : overrides) entries[upper(widen(name))] = widen(name) + L"=" + widen(value);
    std::wstring block;
    for (const auto& [key, entry] : entries) block += entry + L'\0';
    return block + L'\0';
}

// Every started program belongs to this job; the job ends them all when the test
// program ends, however it ends.
HANDLE testJob() {
    static HANDLE job = [] {
        HANDLE created = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (created) SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return created;
    }();
    return job;
}

HANDLE inheritable(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::unique_ptr<Process::Native> spawn(const Launch& launch) {
    std::wstring outputPath = launch.output.empty() ? L"NUL" : launch.output.wstring();
    HANDLE output = inheritable(outputPath, FILE_APPEND_DATA, OPEN_ALWAYS);
    HANDLE input = inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    std::wstring line = commandLine(launch), env = environmentBlock(launch.env);
    std::wstring folder = launch.workingFolder.wstring();
    PROCESS_INFORMATION info{};
    BOOL created = CreateProcessW(launch.program.wstring().c_str(), &line[0], nullptr, nullptr, TRUE,
                                  CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED | CREATE_NO_WINDOW, &env[0],
                                  folder.empty() ? nullptr : folder.c_str(), &startup, &info);
    for (HANDLE h : {output, input})
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!created) return nullptr;
    AssignProcessToJobObject(testJob(), info.hProcess);  // before it runs, so its children join too
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    auto native = std::make_unique<Process::Native>();
    native->process = info.hProcess;
    return native;
}

bool ended(Process::Native& native, int& exitCode) {
    if (WaitForSingleObject(native.process, 0) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    exitCode = GetExitCodeProcess(native.process, &code) ? static_cast<int>(code) : -1;
    return true;
}

void terminate(Process::Native& native) {
    TerminateProcess(native.process, 1);
    WaitForSingleObject(native.process, 10000);
}

}  // namespace

fs::path thisProgram() {
    std::wstring buffer(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    return buffer.substr(0, length);
}

#else

struct Process::Native {
    pid_t pid = 0;
    Clock::time_point started = Clock::now();
};

namespace {

std::vector<std::string> environmentEntries(const std::map<std::string, std::string>& overrides) {
    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        if (!overrides.count(entry.substr(0, entry.find('=')))) entries.push_back(entry);
    }
    for (const auto& [name, value] : overrides) entries.push_back(name + "=" + value);
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> p;
    for (std::string& t : texts) p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

// In the child between fork and exec: only async-signal-safe calls. The child is
// killed when the test program ends, as the job object does on Windows.
[[noreturn]] void becomeProgram(pid_t parent, const Launch& launch, const std::string& output, char** argv,
                                char** envp) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);
    if (!launch.workingFolder.empty() && chdir(launch.workingFolder.c_str()) != 0) _exit(126);
    int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    int in = ::open("/dev/null", O_RDONLY);
    if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
    }
    if (in >= 0) dup2(in, 0);
    execve(launch.program.c_str(), argv, envp);
    _exit(127);
}

std::unique_ptr<Process::Native> spawn(const Launch& launch) {
    // Everything the child needs is made before the fork.
    std::vector<std::string> argText = {launch.program.string()};
    argText.insert(argText.end(), launch.args.begin(), launch.args.end());
    std::vector<std::string> envText = environmentEntries(launch.env);
    std::vector<char*> argv = pointers(argText), envp = pointers(envText);
    std::string output = launch.output.empty() ? "/dev/null" : launch.output.string();
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) return nullptr;
    if (pid == 0) becomeProgram(parent, launch, output, argv.data(), envp.data());
    auto native = std::make_unique<Process::Native>();
    native->pid = pid;
    return native;
}

bool ended(Process::Native& native, int& exitCode) {
    int status = 0;
    if (waitpid(native.pid, &status, WNOHANG) == 0) return false;
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

void terminate(Process::Native& native) {
    ::kill(native.pid, SIGKILL);
    waitpid(native.pid, nullptr, 0);
}

}  // namespace

fs::path thisProgram() { return fs::read_symlink("/proc/self/exe"); }

#endif

std::unique_ptr<Process> Process::start(const Launch& launch) {
    std::unique_ptr<Native> native = spawn(launch);
    if (!native) return nullptr;
    return std::unique_ptr<Process>(new Process(std::move(native)));
}

Process::Process(std::unique_ptr<Native> native) : m_native(std::move(native)) {}

Process::~Process() { kill(); }

bool Process::reap(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_ended) {
        m_ended = ended(*m_native, m_status.exitCode);
        if (m_ended) m_status.elapsedMs = millisecondsSince(m_native->started);
        else if (Clock::now() >= deadline) return false;
        else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool Process::running() { return !reap(0); }

ExitStatus Process::wait(int timeoutMs) {
    if (!reap(timeoutMs)) {
        kill();
        m_status.timedOut = true;
    }
    return m_status;
}

void Process::kill() {
    if (reap(0)) return;
    terminate(*m_native);
    m_ended = true;
    m_status.exitCode = -1;
    m_status.elapsedMs = millisecondsSince(m_native->started);
}

fs::path programFolder() { return thisProgram().parent_path(); }

fs::path buildProgram(const std::string& name) {
#ifdef _WIN32
    return programFolder() / (name + ".exe");
#else
    return programFolder() / name;
#endif
}

}  // namespace testsupport
