// Names that arrive in documents over plain HTTP and become paths must be bare file names
// that name one ordinary file on every host.
#pragma once
#include <string_view>

namespace app {

// True for a non-empty name without "\", "/", ":" (no folder, drive or stream), without
// the characters Windows refuses in names (< > " | ? * and control characters), not made
// of dots alone, not ending in a dot or a blank (Windows would drop them and name another
// file), and not a device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$,
// CONOUT$), with or without an extension, in any letter case.
bool isPlainFileName(std::u16string_view name);

}  // namespace app
