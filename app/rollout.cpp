#include "app/rollout.h"

#include "text/text.h"

namespace app {

namespace {

constexpr uint32_t kM = 0x5BD1E995;

uint32_t readWord(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void mix(uint32_t& h, const unsigned char* p) {
    uint32_t k = readWord(p);
    k *= kM;
    k ^= k >> 24;
    k *= kM;
    h *= kM;
    h ^= k;
}

}  // namespace

uint64_t murmurHash64B(const void* data, size_t size, uint32_t seed) {
    const auto* p = static_cast<const unsigned char*>(data);
    uint32_t h1 = seed ^ static_cast<uint32_t>(size);
    uint32_t h2 = 0;
    while (size >= 8) {
        mix(h1, p);
        mix(h2, p + 4);
        p += 8;
        size -= 8;
    }
    if (size >= 4) {
        mix(h1, p);
        p += 4;
        size -= 4;
    }
    switch (size) {
        case 3: h2 ^= uint32_t(p[2]) << 16; [[fallthrough]];
        case 2: h2 ^= uint32_t(p[1]) << 8; [[fallthrough]];
        case 1: h2 ^= p[0]; h2 *= kM;
    }
    h1 ^= h2 >> 18;
    h1 *= kM;
    h2 ^= h1 >> 22;
    h2 *= kM;
    h1 ^= h2 >> 17;
    h1 *= kM;
    h2 ^= h1 >> 19;
    h2 *= kM;
    return uint64_t(h1) << 32 | h2;
}

RolloutPlace rolloutPlace(const std::u16string& identifier, int percent, int seed) {
    std::string bytes = text::toUtf8(identifier);
    RolloutPlace place;
    place.bucket = static_cast<int>(murmurHash64B(bytes.data(), bytes.size(), static_cast<uint32_t>(seed)) % 100);
    place.inside = percent > 99 || place.bucket < percent;
    return place;
}

bool inRollout(const std::u16string& identifier, int percent, int seed) {
    return rolloutPlace(identifier, percent, seed).inside;
}

}  // namespace app
