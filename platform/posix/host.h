// Helpers shared by the POSIX backend files; nothing outside platform/posix includes this.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat::posix {

// "$XDG_RUNTIME_DIR" when set, else "/tmp"; no trailing slash.
std::string runtimeFolder();
// Core path of a native one: "/" turned into "\".
std::u16string corePath(const std::string& native);
// Reads a regular file of at most maxBytes; false when missing, larger or unreadable.
bool readFileCapped(const std::string& native, size_t maxBytes, std::string& bytes);
// Writes bytes to a temporary file beside native and renames it over native, so that
// readers never see half a file. mode is used when native does not exist yet.
bool replaceFileContents(const std::string& native, const std::string& bytes, unsigned mode);
// The same with the contents copied from the open file source; the file gets mode
// whether it existed or not.
bool replaceFileFrom(const std::string& native, int source, unsigned mode);
// Opens a regular file read-only without blocking on FIFOs or devices; -1 otherwise.
int openRegularFile(const std::string& native);
// Text of a settings-like file: UTF-16LE with its byte-order mark, else UTF-8 (a
// UTF-8 byte-order mark is skipped).
std::u16string decodeTextFile(const std::string& bytes, bool* utf16 = nullptr, bool* utf8Bom = nullptr);
// Test hook of the stand-in host, for crash tests: with OVUPDATE_TEST_EXIT_AFTER=N and
// OVUPDATE_TEST_EXIT_UNDER=<folder> in the environment, the process ends abruptly (exit
// code 86, nothing flushed or cleaned up) right after its N-th rename or delete under
// that folder. Without them, or in a build without test hooks (OV_TEST_HOOKS), it does
// nothing.
void fileChanged(const std::string& native);
constexpr int kTestExitCode = 86;
// Name used for a file in the runtime folder: "/" and "\" replaced by "_".
std::string runtimeName(const std::u16string& name);

}  // namespace plat::posix

namespace plat::posix {

// The desktop of the POSIX host: a folder with one socket and one property file per
// top-level window, named by the window's place in the Z order ("0001" is the top).
std::string desktopFolder();
std::string windowFile(uintptr_t window, const char* extension);

}  // namespace plat::posix
