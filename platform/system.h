// Facts about the host and the process.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

std::u16string appDataFolder();  // roaming application data; empty on failure
std::u16string windowsFolder();
int osMajorVersion();
std::u16string executablePath();
std::u16string environmentVariable(const std::u16string& name);  // empty when unset
uint32_t lastErrorCode();
// Sets the C library's locale for all categories from the user's default.
void setUserDefaultLocale();
// Writes a narrow text to standard output (nowhere visible in a windowless process).
void writeStandardOutput(const char* text);
// Turns invalid-parameter and pure-virtual-call failures of the C runtime into a crash.
void installRuntimeErrorTrap();
// Starts a file as the shell would (ShellExecuteExW, default verb, no parameters,
// SW_SHOWNORMAL); the caller does not wait. On POSIX: a detached process, run bit set.
bool shellExecute(const std::u16string& path);

}  // namespace plat
