#include <windows.h>

#include <atomic>

#include "platform/clock.h"

namespace plat {

namespace {

class SystemClock : public Clock {
public:
    void sleepMs(uint32_t ms) override { Sleep(ms); }
    uint64_t monotonicMs() override { return GetTickCount64(); }
    LocalDate today() override {
        SYSTEMTIME now;
        GetLocalTime(&now);
        return LocalDate{now.wYear, now.wMonth, now.wDay};
    }
};

SystemClock g_systemClock;
std::atomic<Clock*> g_clock{nullptr};

}  // namespace

Clock& clock() {
    Clock* replacement = g_clock.load();
    return replacement ? *replacement : g_systemClock;
}

void setClock(Clock* replacement) { g_clock.store(replacement); }

}  // namespace plat
