// The published state: one summary row per visible window, the order the
// user sees them in, and publication only when the state changed.
#include "Platform/Collation.hpp"
#include "Platform/MainThread.hpp"
#include "Quellan/WindowMonitor.hpp"

#include <cmath>
#include <limits>

namespace quellan {
namespace {

// Whole seconds, truncated toward zero; negative (a clock set back) and
// not-a-number give 0, and an absurdly large span saturates instead of overflowing.
std::int64_t wholeSecondsBetween(double earlier, double later) {
    const double seconds = later - earlier;
    if (!(seconds > 0)) return 0;
    if (seconds >= static_cast<double>(std::numeric_limits<std::int64_t>::max())) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return static_cast<std::int64_t>(std::trunc(seconds));
}

} // namespace

bool summaryComesBefore(const ActiveWindowSummary& a, const ActiveWindowSummary& b) {
    using platform::ComparisonResult;
    if (a.applicationName != b.applicationName) {
        return platform::localizedCaseInsensitiveCompare(a.applicationName, b.applicationName) ==
               ComparisonResult::ascending;
    }
    if (a.title != b.title) {
        return platform::localizedCaseInsensitiveCompare(a.title, b.title) == ComparisonResult::ascending;
    }
    return a.id < b.id;
}

std::optional<ActiveWindowSummary> WindowMonitor::summaryFor(const ManagedWindow& window, double now,
                                                             const std::optional<std::string>& currentWindowID) const {
    const auto openedAt = openedAtByWindowID_.find(window.id);
    if (openedAt == openedAtByWindowID_.end()) return std::nullopt;
    return ActiveWindowSummary{
        .id = window.id,
        .applicationName = window.applicationName,
        .title = window.title,
        .openDurationSeconds = wholeSecondsBetween(openedAt->second, now),
        .isCurrent = currentWindowID.has_value() && *currentWindowID == window.id,
    };
}

void WindowMonitor::publishState(std::int64_t visibleWindowCount, std::vector<ActiveWindowSummary> activeWindows) {
    // Trust is asked afresh: the record says what holds when it is made.
    MonitorState state{
        .isTrusted = ax::isProcessTrusted(),
        .visibleWindowCount = visibleWindowCount,
        .limit = limit,
        .inactiveMinutes = inactiveMinutes,
        .activeWindows = std::move(activeWindows),
    };
    if (lastState_ && *lastState_ == state) return;
    lastState_ = state;
    // The observer gets its own copies: it may change the monitor (a setting,
    // a new observer) and so replace what it was handed.
    if (const StateCallback observer = onStateChange) observer(state);
}

} // namespace quellan
