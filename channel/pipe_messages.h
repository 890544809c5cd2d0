// Pipe messages are UTF-16LE text sent with a terminating NUL; a received message's text
// runs to its first NUL or to the end of the message.
#pragma once
#include <cstddef>
#include <string>

namespace channel {

// Size of the agent's request buffer; a longer request ends the connection.
inline constexpr size_t kRequestBytes = 8192;

std::u16string decodeMessage(const char* bytes, size_t size);
std::string encodeMessage(const std::u16string& text);

}  // namespace channel
