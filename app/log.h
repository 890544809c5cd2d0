// The diagnostic log, written through the maker's logger library when printlog = 1.
#pragma once
#include <string>
#include <vector>
#include "text/format.h"
#include "platform/thread.h"

namespace app::diag {

// Set once by the entry point before any worker thread starts.
bool loggingOn();
void setLogging(bool on);

// Loads the logger library and cleans the log folder: the first step of start-up.
void loggerSetUp();
void loggerStart();
void loggerStop();
// "[OvUpdate.exe] " + message; true when the library accepted the line.
bool logLine(const std::u16string& message);
// Forced stop of a worker thread: a line it is writing at that moment is finished first,
// and it writes nothing afterwards.
void stopThread(plat::Thread& thread, uint32_t exitCode);

// The body of LOG below.
void logFormatted(std::u16string_view format, const std::vector<text::FormatArg>& values);

// The word the log lines put after a step: "success" or "fail".
inline const char16_t* outcome(bool ok) { return ok ? u"success" : u"fail"; }

// The pieces of the above, exposed for their own sake:
// the text handed to the library: prefix, and "\r\n" unless the text has a line end already;
std::u16string logText(const std::u16string& message);
// the daily log name, "kvlog_<year>-<month>-<day>" without zero padding;
std::u16string logName(int year, int month, int day);
// roaming application data + "\kvlog\" (empty when there is no application-data folder);
std::u16string logFolder();
// deletes every file of folder (which ends in "\") except keepPath; folders and names
// starting with "." are left alone, and files that cannot be deleted are skipped.
void cleanLogFolder(const std::u16string& folder, const std::u16string& keepPath);

}  // namespace app::diag

// Formats and writes one log line, only when logging is on (the flag is tested before
// anything is formatted).
template <typename... Args>
inline void LOG(std::u16string_view fmt, const Args&... args) {
    if (app::diag::loggingOn()) app::diag::logFormatted(fmt, {text::FormatArg(args)...});
}
