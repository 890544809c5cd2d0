// RFC 1321 MD5 and the digest checks built on it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {
class File;
}

class Md5 {
public:
    Md5();
    void update(const void* data, size_t size);
    void finish(uint8_t digest[16]);

private:
    void transform(const uint8_t block[64]);
    uint32_t m_state[4];
    uint64_t m_length = 0;
    uint8_t m_buffer[64];
};

std::string md5Hex(const uint8_t digest[16]);  // 32 lower-case hex digits
std::string md5OfBuffer(const void* data, size_t size);
// Whole file, opened without sharing; empty when it cannot be opened or is empty.
std::string md5OfFile(const std::u16string& path);
// Streamed in 2048-byte chunks; bytesRead 0 when the file cannot be opened.
struct StreamedMd5 {
    uint8_t digest[16] = {};
    uint64_t bytesRead = 0;
};
StreamedMd5 md5OfFileStreamed(const std::u16string& path);
// The same over a file already open, from its current position.
StreamedMd5 md5OfFileStreamed(plat::File& file);
// Whole-file digest equals expected, letter case ignored; false when it cannot be computed.
bool checkFileMd5(const std::u16string& path, const std::u16string& expected);
