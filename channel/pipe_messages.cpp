#include "channel/pipe_messages.h"

namespace channel {

std::u16string decodeMessage(const char* bytes, size_t size) {
    std::u16string text;
    // A trailing odd byte is half a character and is dropped.
    for (size_t i = 0; i + 1 < size; i += 2) {
        char16_t c = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (c == 0) break;
        text += c;
    }
    return text;
}

std::string encodeMessage(const std::u16string& text) {
    std::string bytes;
    bytes.reserve(2 * (text.size() + 1));
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    bytes.append(2, '\0');
    return bytes;
}

}  // namespace channel
