// Names that arrive in documents over plain HTTP and become paths must be bare file names.
#pragma once
#include <string_view>

// True for a non-empty name without "\", "/" or ":" (no folder, drive or stream) that is
// neither "." nor "..".
bool isPlainFileName(std::u16string_view name);
