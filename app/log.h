// The diagnostic log, written through the maker's logger library when printlog = 1.
#pragma once
#include <string>
#include "platform/format.h"

namespace diag {

// Set once by the entry point before any worker thread starts.
bool loggingOn();
void setLogging(bool on);

// Loads the logger library and cleans the log folder; runs before the entry point.
void loggerSetUp();
void loggerStart();
void loggerStop();
// "[OvUpdate.exe] " + message; true when the library accepted the line.
bool logLine(const std::u16string& message);

}  // namespace diag

// Formats and writes one log line, only when logging is on (the flag is tested before
// anything is formatted).
template <typename... Args>
inline void LOG(std::u16string_view fmt, const Args&... args) {
    if (diag::loggingOn()) diag::logLine(format(fmt, args...));
}
