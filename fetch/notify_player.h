// The message that tells a running player about a new version.
#pragma once
#include <cstdint>
#include <string>

#include "fetch/package.h"

namespace fetch {

// dwData of the player's WM_COPYDATA.
inline constexpr uintptr_t kPlayerMessageKind = 12;

// "update:" + name + "**" + ver + "**" + md5 + "**" + verlog, the document's own UTF-8
// bytes, followed by the zero byte the player's byte count includes.
std::string playerMessagePayload(const std::string& name, const std::string& ver, const std::string& md5,
                                 const std::string& verlog);

// Sends the package's message to the first marked player window on screen and brings it
// forward; a hidden or minimised first window gets nothing.
void notifyPlayerWindows(const Package& package);

}  // namespace fetch
