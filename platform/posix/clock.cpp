#include "platform/clock.h"
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

namespace plat {

namespace {

class SystemClock : public Clock {
public:
    void sleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    uint64_t monotonicMs() override {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }
    LocalDate today() override {
        time_t now = time(nullptr);
        struct tm local {};
        localtime_r(&now, &local);
        return LocalDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
    }
};

SystemClock systemClock;
std::atomic<Clock*> current{nullptr};

}  // namespace

Clock& clock() {
    Clock* c = current.load();
    return c ? *c : systemClock;
}

void setClock(Clock* replacement) { current.store(replacement); }

}  // namespace plat
