#include "app/sha256.h"

#include <sodium.h>

namespace app {

namespace {

std::string hex(const uint8_t* bytes, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text(2 * size, '0');
    for (size_t i = 0; i < size; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 15];
    }
    return text;
}

char16_t lowerHex(char16_t c) { return c >= u'A' && c <= u'F' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

}  // namespace

std::string sha256Hex(const uint8_t digest[32]) { return hex(digest, 32); }

std::string sha256OfBuffer(const void* data, size_t size) {
    if (sodium_init() < 0) return {};
    uint8_t digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, static_cast<const unsigned char*>(data), size);
    return sha256Hex(digest);
}

bool isSha256Text(const std::u16string& text) {
    if (text.size() != 64) return false;
    for (char16_t c : text) {
        char16_t l = lowerHex(c);
        if (!((l >= u'0' && l <= u'9') || (l >= u'a' && l <= u'f'))) return false;
    }
    return true;
}

bool sha256Matches(const std::string& digest, const std::u16string& expected) {
    if (!isSha256Text(expected) || digest.size() != expected.size()) return false;
    for (size_t i = 0; i < digest.size(); ++i)
        if (static_cast<char16_t>(digest[i]) != lowerHex(expected[i])) return false;
    return true;
}

}  // namespace app
