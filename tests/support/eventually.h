// Polls a condition that another thread makes true (a control field, say).
// The time limit is only a safety net: the wait ends as soon as it holds.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tmx::testing {

inline bool eventually(const std::function<bool()>& condition, int limitMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace tmx::testing
