// Time. Every wait of the agent goes through clock(), which tests replace.
#pragma once
#include <cstdint>

namespace plat {

struct LocalDate {
    int year = 0, month = 0, day = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual void sleepMs(uint32_t ms) = 0;
    virtual uint64_t monotonicMs() = 0;
    virtual LocalDate today() = 0;
};

Clock& clock();
// Replaces the process clock (tests); null restores the system clock.
void setClock(Clock* replacement);

}  // namespace plat
