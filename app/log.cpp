#include "app/log.h"
#include "platform/thread.h"

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "app/host_probes.h"
#include "app/logger_interface.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/library.h"
#include "platform/system.h"

namespace app::diag {

namespace {

constexpr char16_t kLoggerLibrary[] = u"Lmlogger.dll";
constexpr char16_t kLinePrefix[] = u"[OvUpdate.exe] ";
constexpr int kLogLevel = 5;

std::atomic<bool> g_logging{false};

// Lives from the set-up during static initialisation to the end of the process. Writers
// share the guard, start and stop take it alone: a line written by a thread that was
// abandoned at exit can then never reach an object that stop has just handed back.
struct LoggerState {
    plat::UniqueLibrary library;
    CreateLoggerFunction create = nullptr;
    DeleteLoggerFunction destroy = nullptr;
    ILogger* object = nullptr;
    std::shared_mutex guard;
};

// A function-local static: the set-up runs from another file's static initialiser, before
// any static of this file could be relied on.
LoggerState& state() {
    static LoggerState s;
    return s;
}

void loadLibrary(LoggerState& s) {
    std::u16string folder = playerFolderWithSlash();
    if (folder.empty()) return;
    s.library.reset(plat::loadLibrary(folder + kLoggerLibrary));
    if (!s.library) return;
    s.create =
        reinterpret_cast<CreateLoggerFunction>(plat::librarySymbol(s.library.get(), kCreateInterfaceExport));
    s.destroy =
        reinterpret_cast<DeleteLoggerFunction>(plat::librarySymbol(s.library.get(), kDeleteInterfaceExport));
}

}  // namespace

bool loggingOn() { return g_logging.load(std::memory_order_relaxed); }
void setLogging(bool on) { g_logging.store(on); }

std::u16string logName(int year, int month, int day) { return text::format(u"kvlog_%d-%d-%d", year, month, day); }

std::u16string logFolder() {
    std::u16string appData = plat::appDataFolder();
    if (appData.empty()) return {};
    return appData + u"\\kvlog\\";
}

void cleanLogFolder(const std::u16string& folder, const std::u16string& keepPath) {
    std::vector<plat::DirEntry> entries;
    if (!plat::listDirectory(folder, entries)) return;
    for (const plat::DirEntry& entry : entries) {
        if (entry.name.empty() || entry.name[0] == u'.' || entry.isDirectory) continue;
        std::u16string path = folder + entry.name;
        if (path != keepPath) plat::deleteFile(path);
    }
}

void loggerSetUp() {
    LoggerState& s = state();
    std::unique_lock<std::shared_mutex> lock(s.guard);
    if (!s.library) loadLibrary(s);
    // Yesterday's logs go whether or not this run will log.
    std::u16string folder = logFolder();
    if (folder.empty()) return;
    plat::LocalDate today = plat::clock().today();
    cleanLogFolder(folder, folder + logName(today.year, today.month, today.day) + u".log");
}

void loggerStart() {
    LoggerState& s = state();
    std::unique_lock<std::shared_mutex> lock(s.guard);
    if (!s.create) return;
    s.object = s.create();
    if (s.object) s.object->start();
}

void loggerStop() {
    LoggerState& s = state();
    std::unique_lock<std::shared_mutex> lock(s.guard);
    if (!s.object || !s.object->stop()) return;
    s.object = nullptr;
    if (s.destroy) s.destroy();
}

std::u16string logText(const std::u16string& message) {
    std::u16string text = kLinePrefix + message;
    // "\r\n" holds a "\n", so one test covers both line ends.
    if (text.find(u'\n') == std::u16string::npos) text += u"\r\n";
    return text;
}

bool logLine(const std::u16string& message) {
    LoggerState& s = state();
    std::shared_lock<std::shared_mutex> lock(s.guard);
    if (plat::currentThreadStopped()) return false;  // a stopped thread writes nothing more
    if (!s.library || !s.object) return false;
    plat::LocalDate today = plat::clock().today();
    std::u16string name = logName(today.year, today.month, today.day);
    return s.object->write(name.c_str(), kLogLevel, logText(message).c_str());
}

void logFormatted(std::u16string_view format, const std::vector<text::FormatArg>& values) {
    logLine(text::formatArgs(format, values));
}

void stopThread(plat::Thread& thread, uint32_t exitCode) {
    std::unique_lock<std::shared_mutex> lock(state().guard);
    thread.stop(exitCode);
}

}  // namespace app::diag
