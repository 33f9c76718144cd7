// The random draws of one controller: delays of penalties, the pit board, the
// start type. Seeded from the clock when the controller starts; tests seed it
// or script the values it returns.
#pragma once

#include <cstdint>
#include <deque>
#include <random>

namespace tmx {

class Random {
public:
    void seed(std::uint32_t value) { engine_.seed(value); }

    // a + r mod (b - a + 1) for a raw draw r, a when a equals b (and for b < a).
    int between(int a, int b) {
        if (b <= a) return a;
        const auto span = static_cast<std::uint32_t>(b - a) + 1;
        return a + static_cast<int>(draw() % span);
    }

    // The next draws come from here, in order, before the generator is asked
    // again: a scripted value v makes between(a, b) give a + v mod (b - a + 1).
    void script(std::initializer_list<std::uint32_t> values) { scripted_.insert(scripted_.end(), values); }

private:
    std::uint32_t draw() {
        if (!scripted_.empty()) {
            const std::uint32_t v = scripted_.front();
            scripted_.pop_front();
            return v;
        }
        return static_cast<std::uint32_t>(engine_() & 0x7fffffffu);
    }

    std::minstd_rand engine_{1};
    std::deque<std::uint32_t> scripted_;
};

}  // namespace tmx
