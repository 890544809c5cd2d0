// The player's requests: fetch the offer, start the package download, report its
// progress, and say whether the verified package is ready.
#pragma once
#include <cstddef>
#include <string>

namespace channel {

// Replies fit a buffer of this many wide characters, terminator included.
inline constexpr size_t kReplyChars = 4096;

// Answers one request (anything but the two control words). An empty reply means the
// request has no answer; the connection still sends it as a bare terminator.
std::u16string handleRequest(const std::u16string& request);

}  // namespace channel
