#include "Platform/MinimizeRequests.hpp"

#include <algorithm>

namespace quellan::platform {

bool MinimizeRequests::mayAsk(WindowKey window, Clock::time_point now) {
    const auto pause = pausedUntil_.find(window);
    if (pause == pausedUntil_.end()) return true;
    if (now < pause->second) return false;
    pausedUntil_.erase(pause);
    return true;
}

bool MinimizeRequests::settle(const std::function<std::optional<bool>(WindowKey)>& minimized, Clock::time_point now) {
    std::erase_if(pending_, [&](const auto& entry) {
        const auto [window, sentAt] = entry;
        const std::optional<bool> state = minimized(window);
        if (!state) return true; // gone: no answer either way
        if (*state) {
            honoured_ = true;
            ignored_ = 0;
            return true;
        }
        if (now - sentAt < kTimeout) return false;
        ++ignored_;
        // Asked again later, less often each time it is ignored.
        pausedUntil_[window] = now + std::chrono::seconds(std::min(60, 1 << std::min(ignored_, 6)));
        return true;
    });
    constexpr int kIgnoredBeforeGivingUp = 3;
    if (honoured_ || refuses_ || ignored_ < kIgnoredBeforeGivingUp) return false;
    refuses_ = true;
    return true;
}

} // namespace quellan::platform
