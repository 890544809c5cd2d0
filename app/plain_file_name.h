// Names that arrive in documents over plain HTTP and become paths must be bare file names.
#pragma once
#include <string_view>

// True for a non-empty name without "\", "/", ":" (no folder, drive or stream) or control
// characters that is neither "." nor "..".
bool isPlainFileName(std::u16string_view name);
