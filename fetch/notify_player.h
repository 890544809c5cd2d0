// The message that tells a running player about a new version.
#pragma once
#include <cstdint>
#include <string>

// dwData of the player's WM_COPYDATA.
inline constexpr uintptr_t kPlayerMessageKind = 12;

// "update:" + name + "**" + ver + "**" + md5 + "**" + verlog, the document's own UTF-8
// bytes, followed by the zero byte the player's byte count includes.
std::string playerMessagePayload(const std::string& name, const std::string& ver, const std::string& md5,
                                 const std::string& verlog);
