// The runtime-error trap turns C runtime failures into an unhandled access violation,
// which the crash reporter's unhandled-exception filter then sees.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <cxxabi.h>

#include <cstdlib>

#include "platform/system.h"

namespace {

// Stands in for the crash reporter: ends the process with 77 for an access violation.
LONG WINAPI crashReporterFilter(EXCEPTION_POINTERS* pointers) {
    ExitProcess(pointers->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION ? 77 : 78);
}

void underTrap(void (*failure)()) {
    SetUnhandledExceptionFilter(crashReporterFilter);
    plat::installRuntimeErrorTrap();
    failure();
    std::exit(0);  // the failure was survived: wrong
}

}  // namespace

TEST(Win32RuntimeErrorTrapDeathTest, InvalidParameterRaisesAnAccessViolation) {
    EXPECT_EXIT(underTrap([] { _get_invalid_parameter_handler()(nullptr, nullptr, nullptr, 0, 0); }),
                ::testing::ExitedWithCode(77), "");
}

TEST(Win32RuntimeErrorTrapDeathTest, PureVirtualCallRaisesAnAccessViolation) {
    // Code built by GCC lands in __cxa_pure_virtual, which leaves through std::terminate.
    EXPECT_EXIT(underTrap([] { abi::__cxa_pure_virtual(); }), ::testing::ExitedWithCode(77), "");
}

#else
TEST(Win32RuntimeErrorTrap, NeedsWindows) {
    GTEST_SKIP() << "structured exceptions and the runtime's handlers exist only on Windows";
}
#endif
