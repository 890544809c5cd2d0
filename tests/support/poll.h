// Bounded waiting for something another thread or process brings about.
#pragma once
#include <chrono>
#include <thread>

namespace testsupport {

// Asks predicate every few milliseconds until it holds (true) or timeout has passed (false,
// after one last look).
template <typename Predicate>
bool waitUntil(Predicate predicate, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) return predicate();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace testsupport
