// The system wall clock.
#include "Platform/Clock.hpp"

#include <chrono>

namespace quellan::clock {

Instant SystemClock::now() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(sinceEpoch).count();
}

SystemClock& systemClock() {
    static SystemClock clock;
    return clock;
}

} // namespace quellan::clock
