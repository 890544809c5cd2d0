#include "app/md5_and_sha256.h"

#include <sodium.h>

#include <memory>

#include "app/md5.h"
#include "app/streamed_digest.h"

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

FileDigests resultOf(const StreamDigests& digests, uint64_t bytes) {
    FileDigests result;
    result.bytesRead = bytes;
    if (!digests.hasSha256) return result;
    result.md5 = md5Hex(digests.md5);
    result.sha256 = hex(digests.sha256, sizeof digests.sha256);
    result.readable = true;
    return result;
}

}  // namespace

FileDigests fileDigests(const std::u16string& path, plat::OpenMode mode) {
    std::unique_ptr<plat::File> file = plat::openFile(path, mode);
    StreamDigests digests;
    uint64_t bytes = 0;
    if (!file || !digestsOfOpenFile(*file, digests, bytes, true)) return FileDigests();
    return resultOf(digests, bytes);
}

FileDigests readFileDigests(plat::File& file) {
    StreamDigests digests;
    uint64_t bytes = 0;
    if (!readDigestsOfOpenFile(file, digests, bytes, true)) return FileDigests();
    return resultOf(digests, bytes);
}

std::string sha256OfBuffer(const void* data, size_t size) {
    if (sodium_init() < 0) return {};
    uint8_t digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, static_cast<const unsigned char*>(data), size);
    return hex(digest, sizeof digest);
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
