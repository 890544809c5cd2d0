// The object the maker's logger library (Lmlogger.dll) hands out from CreateInterface.
// The agent calls it by position in its table of operations, so the order of the virtual
// functions below is the contract: start is slot 1, stop slot 2, write slot 8. There is no
// virtual destructor on purpose (it would shift the slots); DeleteInterface disposes of it.
#pragma once

namespace app {

class ILogger {
public:
    virtual void unused0() = 0;
    virtual void start() = 0;
    virtual bool stop() = 0;  // true: the object may now be deleted
    virtual void unused3() = 0;
    virtual void unused4() = 0;
    virtual void unused5() = 0;
    virtual void unused6() = 0;
    virtual void unused7() = 0;
    // Appends text to the log called logName (a dated name such as kvlog_2014-3-7).
    virtual bool write(const char16_t* logName, int level, const char16_t* text) = 0;

protected:
    ~ILogger() = default;
};

// Exports of the logger library, both without arguments.
using CreateLoggerFunction = ILogger* (*)();
using DeleteLoggerFunction = void (*)();
inline constexpr char kCreateInterfaceExport[] = "CreateInterface";
inline constexpr char kDeleteInterfaceExport[] = "DeleteInterface";

}  // namespace app
