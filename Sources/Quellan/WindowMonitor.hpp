// The window monitor: the scan cycle that remembers when each window was
// first seen and last focused, applies the limit policy, minimizes the
// chosen windows and publishes a state record when it changes.
#pragma once

#include "Platform/RunLoop.hpp"
#include "Platform/UserDefaults.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quellan {

/// One row of the active-window list.
struct ActiveWindowSummary {
    std::string id;
    std::string applicationName;
    std::string title;
    /// Whole seconds since the window was first seen; never negative.
    std::int64_t openDurationSeconds = 0;
    bool isCurrent = false;

    bool operator==(const ActiveWindowSummary&) const = default;
};

/// The state the monitor publishes to the user interface.
struct MonitorState {
    bool isTrusted = false;
    /// Windows of the scan's snapshot less those it minimized; 0 without trust.
    std::int64_t visibleWindowCount = 0;
    std::int64_t limit = 3;
    /// Absent when inactive minimizing is off.
    std::optional<std::int64_t> inactiveMinutes;
    /// In the summary order.
    std::vector<ActiveWindowSummary> activeWindows;

    bool operator==(const MonitorState&) const = default;
};

/// The order the user sees the rows in: application name, then title, both
/// locale-aware and case-insensitive, then identifier in code-point order.
/// Names or titles that differ only in case stay unordered, so this is not a
/// strict weak ordering: sort with `stableMergeSort` only.
bool summaryComesBefore(const ActiveWindowSummary& a, const ActiveWindowSummary& b);

/// Puts rows in the summary order, stably. Most scans see the same rows as
/// the one before, so the last order is reused while the fields the order
/// depends on are unchanged, row for row: the result is the same, as the
/// sort is deterministic, and the collation calls are saved.
class SummarySorter {
public:
    void sort(std::vector<ActiveWindowSummary>& summaries);

private:
    struct Row {
        std::string id;
        std::string applicationName;
        std::string title;
    };
    bool sameRowsAsLastTime(const std::vector<ActiveWindowSummary>& summaries) const;

    std::vector<Row> lastRows_;
    std::vector<std::size_t> lastOrder_;
};

class WindowMonitor : public std::enable_shared_from_this<WindowMonitor> {
    struct Passkey {};

public:
    using StateCallback = std::function<void(const MonitorState&)>;
    /// Hashes text and its views alike, so tables are searched without copies.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
    };
    template <typename V> using TableByWindowID = std::unordered_map<std::string, V, TextHash, std::equal_to<>>;

    /// The inactivity periods, in minutes, in the order the menu offers them.
    static constexpr std::array<std::int64_t, 6> supportedInactiveMinutes{1, 5, 10, 15, 30, 60};
    /// Seconds between two scans.
    static constexpr double scanInterval = 0.35;

    /// Keys of the persisted settings.
    static constexpr std::string_view windowLimitKey = "windowLimit";
    static constexpr std::string_view inactiveMinutesKey = "inactiveMinutes";
    static constexpr std::string_view inactiveMinimizeEnabledKey = "inactiveMinimizeEnabled";

    /// Stored settings that loading sets aside (a limit outside 1 to 10, or a
    /// period not offered while inactive minimizing is on), each in a
    /// sentence for the person who stored them. Loading itself stays silent.
    static std::vector<std::string> unusableStoredSettings(const platform::UserDefaults& defaults);

    /// The only way to make a monitor: the timer it schedules must be able
    /// to hold it. Loads the settings (writing nothing back), takes no
    /// snapshot, starts no timer and publishes nothing.
    static std::shared_ptr<WindowMonitor> create(std::shared_ptr<WindowSource> source,
                                                 std::shared_ptr<platform::UserDefaults> defaults);
    WindowMonitor(Passkey, std::shared_ptr<WindowSource> source, std::shared_ptr<platform::UserDefaults> defaults);

    /// Asks for access when it is missing (the system prompt, once), scans
    /// once, then scans every `scanInterval` on the main run loop. The timer
    /// (and the source's change observer) holds the monitor until `stop()`.
    ///
    /// Where the source tells of changes, a scan that changed nothing and
    /// left nothing pending is followed by a rest: no timer runs until the
    /// desktop changes (then a scan follows at once, never sooner than
    /// `scanInterval` after the last) or until the next window falls
    /// inactive. A scan during the rest would find what the last one found
    /// but for the durations, and those are kept current while shown.
    void start();
    /// No scan runs on its own afterwards; tables, settings and the
    /// published state stay as they are.
    void stop();
    /// Takes 1 to 10: stores, persists and scans at once. Anything else is
    /// ignored: nothing stored, written or scanned.
    void setLimit(std::int64_t newLimit);
    /// None switches inactive minimizing off; a supported period switches it
    /// on with that period. Persists and scans at once. Any other value is
    /// ignored: nothing stored, written or scanned.
    void setInactiveMinutes(std::optional<std::int64_t> minutes);

    /// One complete pass: trust check, snapshot, tables, policy, minimizing,
    /// publication. Main thread only.
    void scanNow();
    /// Whether the published durations are on screen (the menu is open):
    /// while they are, the scans do not rest, and a rest ends at once.
    void setDurationsShown(bool shown);

    /// The longest rest with an inactive window to come: a timer stops
    /// while the machine sleeps, the wall clock the rule is timed by does not.
    static constexpr double longestRestBeforeInactivity = 60;

    /// The observer of published states.
    StateCallback onStateChange;
    /// The most windows allowed to stay visible.
    std::int64_t limit = 3;
    /// The inactivity period in minutes; absent when inactive minimizing is off.
    std::optional<std::int64_t> inactiveMinutes;

private:
    friend struct WindowMonitorTestAccess;

    static ActiveWindowSummary summaryFor(const ManagedWindow& window, double openedAt, double now,
                                          const std::optional<std::string>& currentWindowID);
    void publishState(std::int64_t visibleWindowCount, std::vector<ActiveWindowSummary> activeWindows);
    void rebaseAfterClockWentBack(double now);
    void scan();
    void planNextScan();
    void desktopChanged();
    void schedule(double interval, bool repeats);
    void cancelTimer();

    /// How scans are timed: none before start and after stop; every
    /// `scanInterval`; none until a change (or the rest's end); one soon,
    /// for a change heard while resting.
    enum class Cadence { stopped, ticking, resting, waking };

    const std::shared_ptr<WindowSource> source_;
    const std::shared_ptr<platform::UserDefaults> defaults_;
    TableByWindowID<double> lastTouchedByWindowID_;
    TableByWindowID<double> openedAtByWindowID_;
    std::shared_ptr<platform::Timer> timer_;
    /// Shared with the observer being called, so publishing costs no copy.
    std::shared_ptr<const MonitorState> lastState_;
    /// `now` of the last trusted scan, to notice a wall clock set back.
    std::optional<double> lastScanInstant_;
    Cadence cadence_ = Cadence::stopped;
    bool observed_ = false;
    bool changeSeen_ = false;
    bool durationsShown_ = false;
    /// What the last scan leaves for later: whether it minimized anything,
    /// and when the next window would fall inactive (wall clock).
    bool minimizedInLastScan_ = false;
    std::optional<double> nextInactiveAt_;
    /// When the last trusted scan ran, or a woken one is due: the floor
    /// between scans. A scan without access reads no time.
    double lastScanAt_ = 0;
    SummarySorter summarySorter_;
};

} // namespace quellan
