// Staged rollout: a machine takes part when a seeded hash of its client identifier falls
// below the percentage. The same identifier and seed always land on the same value, so
// raising the percentage only ever adds machines.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace app {

// MurmurHash64B (the MurmurHash2 variant for 32-bit machines); the seed is the low half of
// the 64-bit seed, the high half is zero.
uint64_t murmurHash64B(const void* data, size_t size, uint32_t seed);

// Where a machine falls in a rollout of percent with seed.
struct RolloutPlace {
    int bucket = 0;       // murmurHash64B(UTF-8 of the identifier, seed) % 100
    bool inside = false;  // percent > 99, or the bucket lies below percent
};
RolloutPlace rolloutPlace(const std::u16string& identifier, int percent, int seed);
bool inRollout(const std::u16string& identifier, int percent, int seed);

}  // namespace app
