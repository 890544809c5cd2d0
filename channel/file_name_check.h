// Names that arrive in documents over plain HTTP become paths only when they are a plain
// file name: no folder separator, no drive or stream colon, not "." or "..".
#pragma once
#include <string>

namespace channel {

bool isPlainFileName(const std::u16string& name);

}  // namespace channel
