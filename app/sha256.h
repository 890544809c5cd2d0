// SHA-256 (libsodium's) as the documents write it: 64 hex digits.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace app {

std::string sha256Hex(const uint8_t digest[32]);  // 64 lower-case hex digits
std::string sha256OfBuffer(const void* data, size_t size);

// 64 hex digits, either letter case.
bool isSha256Text(const std::u16string& text);
// Equal as hex digits (letter case ignored); an expected text that is not 64 hex digits never matches.
bool sha256Matches(const std::string& digest, const std::u16string& expected);

}  // namespace app
