// Lives for the whole entry operation: C runtime failures (an invalid parameter, a pure
// virtual call) become ordinary crashes, so that the crash-report library sees them.
#pragma once

namespace app {

class CCrtException {
public:
    CCrtException();
    // Leaves the handlers installed: a failure during shutdown is still a crash.
    ~CCrtException() = default;
    CCrtException(const CCrtException&) = delete;
    CCrtException& operator=(const CCrtException&) = delete;
};

}  // namespace app
