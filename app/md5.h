// RFC 1321 MD5.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace app {

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

}  // namespace app
