// Minimize requests sent without waiting for the desktop's answer, and what
// the answers teach: a desktop that ignores them is asked less often, and
// one that never honours any is learned to refuse, so that no window counts
// as one Quellan can minimize there.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>

namespace quellan::platform {

class MinimizeRequests {
public:
    using Clock = std::chrono::steady_clock;
    using WindowKey = std::uint64_t;
    /// How long a request may go unanswered before it counts as ignored.
    static constexpr std::chrono::milliseconds kTimeout{1000};

    /// False while `window` is paused after an ignored request.
    bool mayAsk(WindowKey window, Clock::time_point now);
    bool isPending(WindowKey window) const { return pending_.contains(window); }
    /// Until the desktop has honoured a request, one is reported as failed:
    /// the window stays counted until it is seen minimized.
    bool reportsSuccess() const { return honoured_; }
    void sent(WindowKey window, Clock::time_point now) { pending_.emplace(window, now); }
    /// Settles the pending requests against what the desktop shows now:
    /// `minimized` gives none for a window that is gone. True once, when
    /// the desktop is first learned to refuse.
    bool settle(const std::function<std::optional<bool>(WindowKey)>& minimized, Clock::time_point now);
    bool refuses() const { return refuses_; }
    /// Another desktop took over: everything learned starts afresh.
    void forget() { *this = MinimizeRequests(); }

private:
    std::unordered_map<WindowKey, Clock::time_point> pending_;
    std::unordered_map<WindowKey, Clock::time_point> pausedUntil_;
    int ignored_ = 0;
    bool honoured_ = false;
    bool refuses_ = false;
};

} // namespace quellan::platform
