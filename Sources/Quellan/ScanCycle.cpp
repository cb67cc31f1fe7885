// `WindowMonitor::scanNow`: one pass of the monitor, steps in their order.
#include "Platform/Clock.hpp"
#include "Platform/MainThread.hpp"
#include "Quellan/WindowMonitor.hpp"
#include "QuellanCore/WindowLimitPolicy.hpp"
#include "Sorting/StableMergeSort.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <unordered_map>

namespace quellan {
namespace {

using IndexByID = std::unordered_map<std::string_view, std::size_t, WindowMonitor::TextHash, std::equal_to<>>;

} // namespace

void WindowMonitor::scan() {
    minimizedInLastScan_ = false;
    nextInactiveAt_.reset();
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

    // Two records with one id (a window listed twice, or a hash collision):
    // the first one is the window that id stands for. Each record keeps the
    // index of that first one, so later steps work by index, not by text.
    IndexByID firstIndexByID;
    firstIndexByID.reserve(n);
    std::vector<std::size_t> firstIndexOf(n);
    for (std::size_t i = 0; i < n; ++i)
        firstIndexOf[i] = firstIndexByID.try_emplace(windows[i].id, i).first->second;

    // An application that is not answering has its windows unknown, not
    // gone: what is known of them is kept, so that they rank as they did
    // once it answers again rather than as new.
    const auto ofUnanswered = [&](std::string_view id) {
        std::int32_t processIdentifier = 0;
        const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), processIdentifier);
        return error == std::errc() && end != id.data() + id.size() && *end == ':' &&
               std::ranges::find(snapshot.unansweredProcessIdentifiers, processIdentifier) !=
                   snapshot.unansweredProcessIdentifiers.end();
    };
    const auto listed = [&](const auto& entry) {
        return firstIndexByID.contains(entry.first) ||
               (!snapshot.unansweredProcessIdentifiers.empty() && ofUnanswered(entry.first));
    };
    std::erase_if(lastTouchedByWindowID_, [&](const auto& entry) { return !listed(entry); });
    std::erase_if(openedAtByWindowID_, [&](const auto& entry) { return !listed(entry); });

    const double now = clock::now();
    lastScanAt_ = now;
    rebaseAfterClockWentBack(now);

    // New windows count as older than any window touched now, ranked by
    // their place in the snapshot: the first gets now - n ms, the last now - 1 ms.
    // Entries are reached through pointers from here on: a table keeps its
    // elements in place while others are added.
    const auto seedAt = [&](std::size_t place) { return now + static_cast<double>(n - place) / -1000.0; };
    std::vector<double*> lastTouchedOf(n);
    std::vector<const double*> openedAtOf(n);
    std::vector<std::size_t> newcomers;
    for (std::size_t i = 0; i < n; ++i) {
        if (firstIndexOf[i] != i) continue;
        const auto [entry, isNew] = lastTouchedByWindowID_.try_emplace(windows[i].id, seedAt(i));
        lastTouchedOf[i] = &entry->second;
        if (isNew) newcomers.push_back(i);
        openedAtOf[i] = &openedAtByWindowID_.try_emplace(windows[i].id, now).first->second;
    }
    // Where the platform tells the stacking order, the newcomers take the
    // same seeds lowest window first: the snapshot lists each application's
    // windows front to back, which would make the one in use the oldest.
    const auto stacked = [&](std::size_t i) { return windows[i].stackingPosition.has_value(); };
    if (newcomers.size() > 1 && std::ranges::all_of(newcomers, stacked)) {
        std::vector<std::size_t> lowestFirst = newcomers;
        stableMergeSort(lowestFirst, [&](std::size_t a, std::size_t b) {
            return *windows[a].stackingPosition < *windows[b].stackingPosition;
        });
        for (std::size_t rank = 0; rank < newcomers.size(); ++rank)
            *lastTouchedOf[lowestFirst[rank]] = seedAt(newcomers[rank]);
    }
    // A newcomer the platform saw appear before now (read late, after a
    // stall) takes its place among what happened meanwhile: just before
    // that instant, its rank among the newcomers kept in microseconds.
    for (const std::size_t i : newcomers) {
        if (const auto appeared = windows[i].appearedAt; appeared && !std::isnan(*appeared)) {
            double& touched = *lastTouchedOf[i];
            touched = std::min(touched, *appeared + (touched - now) / 1000.0);
        }
    }

    // A window focused since the last scan was touched then, whether or not
    // it still has the focus; never later than just before now, which
    // belongs to the focused window alone.
    const double justBefore = std::nextafter(now, -std::numeric_limits<double>::infinity());
    for (const FocusedWindow& focused : snapshot.focusedSinceLastSnapshot) {
        const auto found = firstIndexByID.find(focused.id);
        if (found == firstIndexByID.end() || std::isnan(focused.instant)) continue;
        double& touched = *lastTouchedOf[found->second];
        touched = std::max(touched, std::min(focused.instant, justBefore));
    }

    // Only a listed window is marked, so the tables never gain an id the
    // snapshot did not list, whatever the source reports.
    std::optional<std::size_t> currentIndex;
    if (snapshot.currentWindowID) {
        if (const auto found = firstIndexByID.find(*snapshot.currentWindowID); found != firstIndexByID.end()) {
            currentIndex = found->second;
            // A window focused at the last scan holds that scan's instant, which
            // is now again when the clock stood still or was set back (see the
            // rebase). It was left for this one, so it counts as just before:
            // a tie would let the identifiers decide which one the limit keeps.
            for (std::size_t i = 0; i < n; ++i) {
                if (firstIndexOf[i] == i && i != found->second && *lastTouchedOf[i] >= now) {
                    *lastTouchedOf[i] = justBefore;
                }
            }
            *lastTouchedOf[found->second] = now;
        }
    }

    std::vector<WindowActivity> activities;
    activities.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        activities.emplace_back(windows[i].id, *lastTouchedOf[firstIndexOf[i]]);
    }

    std::vector<std::string> inactive;
    const double inactiveInterval = inactiveMinutes ? static_cast<double>(*inactiveMinutes * 60) : 0;
    if (inactiveMinutes) {
        inactive =
            WindowLimitPolicy::inactiveWindowsToMinimize(activities, inactiveInterval, now, snapshot.currentWindowID);
    }
    const std::vector<std::string> overLimit = WindowLimitPolicy::windowsToMinimize(activities, limit);

    // Over-limit choices first, then those only the inactivity rule made; each
    // once. The focused window is never one of them: the policy weighs every
    // record, so a focused window listed twice would otherwise be over a limit
    // of one by itself.
    std::vector<bool> isChosen(n, false);
    std::vector<std::size_t> chosen;
    chosen.reserve(overLimit.size() + inactive.size());
    for (const auto& list : {std::cref(overLimit), std::cref(inactive)}) {
        for (const auto& id : list.get()) {
            const auto found = firstIndexByID.find(id);
            if (found == firstIndexByID.end() || isChosen[found->second] || found->second == currentIndex) continue;
            isChosen[found->second] = true;
            chosen.push_back(found->second);
        }
    }

    // The rule's next choice, for a scan that would otherwise not come.
    if (inactiveMinutes) {
        for (std::size_t i = 0; i < n; ++i) {
            if (firstIndexOf[i] != i || isChosen[i] || i == currentIndex) continue;
            const double at = *lastTouchedOf[i] + inactiveInterval;
            nextInactiveAt_ = std::min(nextInactiveAt_.value_or(at), at);
        }
    }

    minimizedInLastScan_ = !chosen.empty();
    std::int64_t successCount = 0;
    for (const std::size_t index : chosen) {
        const ManagedWindow& window = windows[index];
        if (ax::setAttributeValue(window.element, ax::kMinimizedAttribute, ax::Value::boolean(true)) == ax::kSuccess) {
            ++successCount;
            lastTouchedByWindowID_.erase(window.id);
            openedAtByWindowID_.erase(window.id);
        }
    }

    std::vector<ActiveWindowSummary> summaries;
    summaries.reserve(n - std::min(n, chosen.size()));
    for (std::size_t i = 0; i < n; ++i) {
        if (isChosen[firstIndexOf[i]]) continue;
        summaries.push_back(summaryFor(windows[i], *openedAtOf[firstIndexOf[i]], now, snapshot.currentWindowID));
    }
    summarySorter_.sort(summaries);

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
