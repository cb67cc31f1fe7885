// `WindowMonitor::scanNow`: one pass of the monitor, steps in their order.
#include "Platform/Clock.hpp"
#include "Platform/MainThread.hpp"
#include "Quellan/WindowMonitor.hpp"
#include "QuellanCore/WindowLimitPolicy.hpp"
#include "Sorting/StableMergeSort.hpp"

#include <algorithm>
#include <functional>
#include <unordered_set>

namespace quellan {
namespace {

using IDSet = std::unordered_set<std::string_view, WindowMonitor::TextHash, std::equal_to<>>;

void eraseEntry(WindowMonitor::TableByWindowID<double>& table, std::string_view id) {
    if (const auto found = table.find(id); found != table.end()) table.erase(found);
}

} // namespace

void WindowMonitor::scanNow() {
    platform::requireMainThread("WindowMonitor::scanNow");

    // Without trust nothing is known about any window: forget them all.
    if (!ax::isProcessTrusted()) {
        lastTouchedByWindowID_.clear();
        openedAtByWindowID_.clear();
        lastScanInstant_.reset();
        publishState(0, {});
        return;
    }

    const WindowSnapshot snapshot = source_->snapshot();
    const std::vector<ManagedWindow>& windows = snapshot.windows;
    const std::size_t n = windows.size();

    IDSet currentIDs;
    currentIDs.reserve(n);
    for (const auto& window : windows)
        currentIDs.insert(window.id);

    std::erase_if(lastTouchedByWindowID_, [&](const auto& entry) { return !currentIDs.contains(entry.first); });
    std::erase_if(openedAtByWindowID_, [&](const auto& entry) { return !currentIDs.contains(entry.first); });

    const double now = clock::now();
    rebaseAfterClockWentBack(now);

    // New windows count as older than any window touched now, ranked by
    // their place in the snapshot: the first gets now - n ms, the last now - 1 ms.
    for (std::size_t i = 0; i < n; ++i) {
        lastTouchedByWindowID_.try_emplace(windows[i].id, now + static_cast<double>(n - i) / -1000.0);
    }
    for (const auto& window : windows)
        openedAtByWindowID_.try_emplace(window.id, now);

    // Only a listed window is marked, so the tables never hold an id the
    // snapshot did not list, whatever the source reports.
    if (snapshot.currentWindowID) {
        if (auto found = lastTouchedByWindowID_.find(*snapshot.currentWindowID);
            found != lastTouchedByWindowID_.end()) {
            found->second = now;
        }
    }

    std::vector<WindowActivity> activities;
    activities.reserve(n);
    for (const auto& window : windows) {
        if (auto found = lastTouchedByWindowID_.find(window.id); found != lastTouchedByWindowID_.end()) {
            activities.emplace_back(window.id, found->second);
        }
    }

    std::vector<std::string> inactive;
    if (inactiveMinutes) {
        const auto interval = static_cast<double>(*inactiveMinutes * 60);
        inactive = WindowLimitPolicy::inactiveWindowsToMinimize(activities, interval, now, snapshot.currentWindowID);
    }
    const std::vector<std::string> overLimit = WindowLimitPolicy::windowsToMinimize(activities, limit);

    // Over-limit choices first, then those only the inactivity rule made; each once.
    std::vector<std::string_view> chosen;
    IDSet chosenIDs;
    chosen.reserve(overLimit.size() + inactive.size());
    for (const auto& list : {std::cref(overLimit), std::cref(inactive)}) {
        for (const auto& id : list.get()) {
            if (chosenIDs.insert(id).second) chosen.push_back(id);
        }
    }

    // Two records with one id (a window listed twice, or a hash collision):
    // the first one is the window that id stands for.
    std::unordered_map<std::string_view, const ManagedWindow*, TextHash, std::equal_to<>> windowByID;
    windowByID.reserve(n);
    for (const auto& window : windows)
        windowByID.try_emplace(window.id, &window);

    std::int64_t successCount = 0;
    for (const std::string_view id : chosen) {
        const auto found = windowByID.find(id);
        if (found == windowByID.end()) continue;
        if (ax::setAttributeValue(found->second->element, ax::kMinimizedAttribute, ax::Value::boolean(true)) ==
            ax::kSuccess) {
            ++successCount;
            eraseEntry(lastTouchedByWindowID_, id);
            eraseEntry(openedAtByWindowID_, id);
        }
    }

    std::vector<ActiveWindowSummary> summaries;
    summaries.reserve(n - std::min(n, chosen.size()));
    for (const auto& window : windows) {
        if (chosenIDs.contains(window.id)) continue;
        if (auto summary = summaryFor(window, now, snapshot.currentWindowID)) summaries.push_back(std::move(*summary));
    }
    stableMergeSort(summaries, summaryComesBefore);

    publishState(static_cast<std::int64_t>(n) - successCount, std::move(summaries));
}

void WindowMonitor::rebaseAfterClockWentBack(double now) {
    // A wall clock set back would make every remembered instant lie in the
    // future, so the focused window (stamped `now`) would become the least
    // recently used one and be minimized first. Shifting what is remembered
    // by the same step keeps every age and the order as they were.
    if (lastScanInstant_ && now < *lastScanInstant_) {
        const double step = now - *lastScanInstant_;
        for (auto& entry : lastTouchedByWindowID_)
            entry.second += step;
        for (auto& entry : openedAtByWindowID_)
            entry.second += step;
    }
    lastScanInstant_ = now;
}

} // namespace quellan
