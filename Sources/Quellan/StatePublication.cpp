// The published state: one summary row per visible window, the order the
// user sees them in, and publication only when the state changed.
#include "Platform/Collation.hpp"
#include "Platform/MainThread.hpp"
#include "Quellan/WindowMonitor.hpp"
#include "Sorting/StableMergeSort.hpp"

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

bool SummarySorter::sameRowsAsLastTime(const std::vector<ActiveWindowSummary>& summaries) const {
    if (summaries.size() != lastRows_.size()) return false;
    for (std::size_t i = 0; i < summaries.size(); ++i) {
        const Row& row = lastRows_[i];
        const ActiveWindowSummary& summary = summaries[i];
        if (summary.id != row.id || summary.applicationName != row.applicationName || summary.title != row.title) {
            return false;
        }
    }
    return true;
}

void SummarySorter::sort(std::vector<ActiveWindowSummary>& summaries) {
    if (!sameRowsAsLastTime(summaries)) {
        std::vector<std::size_t> order(summaries.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        stableMergeSort(order,
                        [&](std::size_t a, std::size_t b) { return summaryComesBefore(summaries[a], summaries[b]); });
        lastOrder_ = std::move(order);
        lastRows_.clear();
        lastRows_.reserve(summaries.size());
        for (const auto& summary : summaries)
            lastRows_.push_back(Row{summary.id, summary.applicationName, summary.title});
    }
    // Rows are costly to move, so each moves once, into its place.
    std::vector<ActiveWindowSummary> sorted;
    sorted.reserve(summaries.size());
    for (const std::size_t index : lastOrder_)
        sorted.push_back(std::move(summaries[index]));
    summaries = std::move(sorted);
}

ActiveWindowSummary WindowMonitor::summaryFor(const ManagedWindow& window, double openedAt, double now,
                                              const std::optional<std::string>& currentWindowID) {
    return ActiveWindowSummary{
        .id = window.id,
        .applicationName = window.applicationName,
        .title = window.title,
        .openDurationSeconds = wholeSecondsBetween(openedAt, now),
        .isCurrent = currentWindowID.has_value() && *currentWindowID == window.id,
    };
}

void WindowMonitor::publishState(std::int64_t visibleWindowCount, std::vector<ActiveWindowSummary> activeWindows) {
    // Trust is asked afresh: the record says what holds when it is made.
    auto state = std::make_shared<const MonitorState>(MonitorState{
        .isTrusted = ax::isProcessTrusted(),
        .visibleWindowCount = visibleWindowCount,
        .limit = limit,
        .inactiveMinutes = inactiveMinutes,
        .activeWindows = std::move(activeWindows),
    });
    if (lastState_ && *lastState_ == *state) return;
    lastState_ = state;
    // The observer and the record are held here: the observer may change the
    // monitor (a setting, a new observer) and so replace both.
    if (const StateCallback observer = onStateChange) observer(*state);
}

} // namespace quellan
