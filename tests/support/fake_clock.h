// The process clock of a test: a sleep moves its time on at once (and is told to onSleep),
// its date is fixed. It replaces the process clock while it lives.
#pragma once
#include <cstdint>
#include <functional>

#include "platform/clock.h"

namespace testsupport {

class FakeClock : public plat::Clock {
public:
    explicit FakeClock(plat::LocalDate today = {2014, 3, 7}) : m_today(today) { plat::setClock(this); }
    ~FakeClock() override { plat::setClock(nullptr); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    void sleepMs(uint32_t ms) override {
        m_now += ms;
        if (onSleep) onSleep(ms);
    }
    uint64_t monotonicMs() override { return m_now; }
    plat::LocalDate today() override { return m_today; }

    std::function<void(uint32_t ms)> onSleep;

private:
    plat::LocalDate m_today;
    uint64_t m_now = 0;
};

}  // namespace testsupport
