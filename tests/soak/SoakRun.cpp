// The soak's engine: a random desktop that changes and fails between and
// during scans, and the checks every scan must pass.
#include "soak/SoakRun.hpp"

#include "Platform/simulated/SimulatedDesktop.hpp"
#include "Platform/simulated/SimulatedRunLoop.hpp"
#include "Sorting/StableMergeSort.hpp"
#include "Support.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <limits>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <unordered_map>

namespace quellan::soak {

std::int64_t SoakTotals::faultCount() const {
    std::int64_t sum = 0;
    for (const auto& entry : faults)
        sum += entry.second;
    return sum;
}

std::int64_t SoakTotals::changeCount() const {
    std::int64_t sum = 0;
    for (const auto& entry : changes)
        sum += entry.second;
    return sum;
}

namespace {

using simulated::Read;
using simulated::Scripted;
using simulated::SimApplication;
using simulated::SimulatedDesktop;
using simulated::SimWindow;
using simulated::WindowID;
using simulated::WindowRef;
using Access = WindowMonitorTestAccess;
using Table = std::unordered_map<std::string, double>;

// Failure codes handed out; a positive one too, as only zero is success.
constexpr std::array<ax::Error, 7> kErrors{
    ax::kFailure, ax::kInvalidElement, ax::kCannotComplete, ax::kAttributeUnsupported, ax::kNoValue, -1, 7};

// Windows that exist at most, minimized or not; more only by a new application.
constexpr std::size_t kMostWindows = 24;

// Process ids applications are started with; the program's own comes too.
constexpr std::array<std::int32_t, 14> kPids{-7, 0, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111};

/// A text as it can be printed in a one-line churn note.
std::string printable(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, 24)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f) {
            out += c;
        } else {
            static const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        }
    }
    if (text.size() > 24) out += "...(" + std::to_string(text.size()) + " bytes)";
    return out;
}

std::string describeRead(const Read& read) {
    if (read.error != ax::kSuccess) return "error " + std::to_string(read.error);
    return std::visit(
        [](const auto& value) -> std::string {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return "null";
            } else if constexpr (std::is_same_v<T, std::string>) {
                return "'" + printable(value) + "'";
            } else if constexpr (std::is_same_v<T, bool>) {
                return value ? "true" : "false";
            } else if constexpr (std::is_same_v<T, double>) {
                return "number";
            } else {
                return "win:" + std::to_string(value.window);
            }
        },
        read.value);
}

// --- what the source should list, from the desktop's own state -----------

struct Listed {
    WindowID window = 0;
    std::string id;
    std::string applicationName;
    std::string title;
};

struct Truth {
    std::vector<Listed> records;
    std::optional<std::string> currentWindowID;
    std::set<WindowID> candidates;
};

/// The hash a window is made with (and keeps once it is gone).
std::uint64_t madeHash(WindowID id) { return static_cast<std::uint64_t>(id) * 0x9E3779B97F4A7C15ULL; }

bool readsText(const Read& read, std::string_view expected) {
    if (read.error != ax::kSuccess) return false;
    const auto* text = std::get_if<std::string>(&read.value);
    return text != nullptr && *text == expected;
}

const SimApplication* firstWithPid(SimulatedDesktop& desktop, std::int32_t pid) {
    for (const auto& app : desktop.applications()) {
        if (app.info.processIdentifier == pid) return &app;
    }
    return nullptr;
}

/// The visible, minimizable standard windows of the regular applications
/// other than this program, in ascending process id and each application's
/// own order, and the frontmost application's focused one among them.
Truth desktopTruth(SimulatedDesktop& desktop, std::int32_t ownPid) {
    Truth truth;
    std::optional<std::int32_t> frontmost;
    if (desktop.frontmostProcessIdentifier && firstWithPid(desktop, *desktop.frontmostProcessIdentifier)) {
        frontmost = desktop.frontmostProcessIdentifier;
    }
    std::vector<workspace::RunningApplication> applications;
    for (const auto& app : desktop.applications()) {
        const auto& info = app.info;
        if (info.processIdentifier != ownPid && !info.isTerminated && !info.isHidden &&
            info.activationPolicy == workspace::ActivationPolicy::regular) {
            applications.push_back(info);
        }
    }
    std::stable_sort(applications.begin(), applications.end(),
                     [](const auto& a, const auto& b) { return a.processIdentifier < b.processIdentifier; });

    for (const auto& info : applications) {
        const std::int32_t pid = info.processIdentifier;
        // Reads of an application go to the first one running with its pid.
        const SimApplication& app = *firstWithPid(desktop, pid);
        std::optional<WindowID> focused;
        if (frontmost == pid) {
            if (app.focusedWindowRead) {
                const auto* ref = std::get_if<WindowRef>(&app.focusedWindowRead->value);
                if (app.focusedWindowRead->error == ax::kSuccess && ref) focused = ref->window;
            } else {
                focused = app.focusedWindow;
            }
        }
        if (app.windowsError != ax::kSuccess || app.windowsReplacement) continue;
        std::vector<WindowID> listed = app.windows;
        for (const auto& extra : app.windowsExtras) {
            if (const auto* ref = std::get_if<WindowRef>(&extra)) listed.push_back(ref->window);
        }
        for (const WindowID id : listed) {
            if (!desktop.hasWindow(id)) continue;
            const SimWindow& window = desktop.window(id);
            if (!readsText(window.role, ax::kWindowRole) || !readsText(window.subrole, ax::kStandardWindowSubrole)) {
                continue;
            }
            const auto* minimized = std::get_if<bool>(&window.minimized.value);
            if (window.minimized.error == ax::kSuccess && minimized && *minimized) continue;
            if (window.settableError != ax::kSuccess || !window.settable) continue;
            const auto* title = std::get_if<std::string>(&window.title.value);
            Listed record{
                .window = id,
                .id = std::to_string(pid) + ":" + std::to_string(window.hash),
                .applicationName = info.localizedName.value_or("Unknown App"),
                .title = window.title.error == ax::kSuccess && title ? *title : "Untitled Window",
            };
            if (focused == id) truth.currentWindowID = record.id;
            truth.candidates.insert(id);
            truth.records.push_back(std::move(record));
        }
    }
    return truth;
}

// --- what the monitor should do with a snapshot ----------------------------

struct Decision {
    /// Index of the first record of each id to minimize, in the order tried.
    std::vector<std::size_t> chosen;
    std::set<std::string> chosenIDs;
    /// The tables after the scan's bookkeeping, before any minimizing.
    Table lastTouched;
    Table openedAt;
};

/// The rules, from the monitor's contract: unlisted windows are forgotten;
/// remembered instants follow a clock set back; a new window counts as
/// touched n - i ms before now; the focused one is touched now, and any
/// other that reads now counts as just before; the least
/// recently used beyond the limit go first, then those inactive too long,
/// each id once, by its first record.
Decision decide(const std::vector<Listed>& records, const std::optional<std::string>& current, double now,
                const Table& lastTouchedBefore, const Table& openedAtBefore, std::optional<double> lastScan,
                std::int64_t limit, std::optional<std::int64_t> inactiveMinutes) {
    const std::size_t n = records.size();
    std::unordered_map<std::string, std::size_t> first;
    for (std::size_t i = 0; i < n; ++i)
        first.try_emplace(records[i].id, i);

    Decision d;
    for (const auto& [id, instant] : lastTouchedBefore) {
        if (first.contains(id)) d.lastTouched.emplace(id, instant);
    }
    for (const auto& [id, instant] : openedAtBefore) {
        if (first.contains(id)) d.openedAt.emplace(id, instant);
    }
    if (lastScan && now < *lastScan) {
        const double step = now - *lastScan;
        for (auto& entry : d.lastTouched)
            entry.second += step;
        for (auto& entry : d.openedAt)
            entry.second += step;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (first.at(records[i].id) != i) continue;
        d.lastTouched.try_emplace(records[i].id, now - static_cast<double>(n - i) / 1000.0);
        d.openedAt.try_emplace(records[i].id, now);
    }
    if (current && first.contains(*current)) {
        // Whatever else reads now was left for the focused one: just before.
        for (auto& entry : d.lastTouched) {
            if (entry.first != *current && entry.second >= now) {
                entry.second = std::nextafter(now, -std::numeric_limits<double>::infinity());
            }
        }
        d.lastTouched[*current] = now;
    }

    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const double ta = d.lastTouched.at(records[a].id);
        const double tb = d.lastTouched.at(records[b].id);
        return ta < tb || (ta == tb && records[a].id < records[b].id);
    });
    std::vector<std::string> wanted;
    const std::size_t kept =
        limit <= 0 ? 0 : static_cast<std::size_t>(std::min<std::int64_t>(limit, static_cast<std::int64_t>(n)));
    for (std::size_t k = 0; k + kept < n; ++k)
        wanted.push_back(records[order[k]].id);
    if (inactiveMinutes) {
        const auto interval = static_cast<double>(*inactiveMinutes * 60);
        if (interval > 0) {
            for (const std::size_t i : order) {
                if (current && records[i].id == *current) continue;
                if (now - d.lastTouched.at(records[i].id) >= interval) wanted.push_back(records[i].id);
            }
        }
    }
    for (const auto& id : wanted) {
        if (d.chosenIDs.insert(id).second) d.chosen.push_back(first.at(id));
    }
    return d;
}

std::int64_t wholeSeconds(double from, double to) {
    const double seconds = to - from;
    return seconds > 0 ? static_cast<std::int64_t>(std::trunc(seconds)) : 0;
}

std::string describeState(const MonitorState& state) {
    std::ostringstream out;
    out << "{trusted " << state.isTrusted << ", visible " << state.visibleWindowCount << ", limit " << state.limit
        << ", inactive " << (state.inactiveMinutes ? std::to_string(*state.inactiveMinutes) : "off") << ", rows [";
    for (const auto& row : state.activeWindows) {
        out << " " << row.id << " '" << printable(row.title) << "' " << row.openDurationSeconds << "s"
            << (row.isCurrent ? " current" : "");
    }
    out << " ]}";
    return out.str();
}

/// Changes made to the desktop while one call of the scan is made.
struct MidScanEvent {
    enum class Action { closeWindow, quitApplication, userMinimizes, minimizeFails, setTrust };
    Action action = Action::closeWindow;
    /// The call it happens at; for trust, the n-th trust check of the step.
    std::string call;
    int trustCheck = 0;
    WindowID window = 0;
    std::int32_t pid = 0;
    bool trust = false;
    ax::Error error = ax::kFailure;
    bool fired = false;

    std::string describe() const {
        switch (action) {
        case Action::closeWindow:
            return "win:" + std::to_string(window) + " closes at '" + call + "'";
        case Action::quitApplication:
            return "app:" + std::to_string(pid) + " quits at '" + call + "'";
        case Action::userMinimizes:
            return "win:" + std::to_string(window) + " minimized by the user at '" + call + "'";
        case Action::minimizeFails:
            return "win:" + std::to_string(window) + " minimizing fails " + std::to_string(error) + " at '" + call +
                   "'";
        case Action::setTrust:
            return std::string("trust turns ") + (trust ? "on" : "off") + " at trust check " +
                   std::to_string(trustCheck);
        }
        return {};
    }
};

enum class StepKind { start, scan, tick, restart, setLimit, setInactive };

const char* stepName(StepKind kind) {
    switch (kind) {
    case StepKind::start:
        return "start";
    case StepKind::scan:
        return "scanNow";
    case StepKind::tick:
        return "timer tick";
    case StepKind::restart:
        return "stop and start";
    case StepKind::setLimit:
        return "setLimit";
    case StepKind::setInactive:
        return "setInactiveMinutes";
    }
    return "?";
}

class Soak;

/// Passes the snapshot through and lets the soak look at it on the way.
class ObservingSource final : public WindowSource {
public:
    ObservingSource(Soak& soak, std::shared_ptr<WindowSource> inner) : soak_(soak), inner_(std::move(inner)) {}
    WindowSnapshot snapshot() override;

private:
    Soak& soak_;
    std::shared_ptr<WindowSource> inner_;
};

class Soak {
public:
    explicit Soak(const SoakOptions& options);
    SoakResult run();
    WindowSnapshot observe(WindowSource& inner);

private:
    struct Attempt {
        WindowID window = 0;
        /// Whether the desktop will take it, as the call is answered.
        bool accepted = false;
    };
    struct Observed {
        int snapshots = 0;
        std::size_t trustIndex = 0;
        double time = 0;
        std::vector<Listed> records;
        std::optional<std::string> currentWindowID;
        bool unresolved = false;
    };

    // Random choices.
    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : random_() % n; }
    bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }
    template <typename T> const T& pick(const std::vector<T>& from) { return from[below(from.size())]; }
    template <typename T, std::size_t N> const T& pick(const std::array<T, N>& from) { return from[below(N)]; }
    double uniform(double low, double high) {
        return low + (high - low) * static_cast<double>(random_() >> 11) / 9007199254740992.0;
    }
    ax::Error anyError() { return pick(kErrors); }

    // The churn between scans.
    void note(std::string text) { history_.back().second.push_back(std::move(text)); }
    void fault(const std::string& kind, std::string text) {
        ++totals_.faults[kind];
        note("fault: " + std::move(text));
    }
    void change(const std::string& kind, std::string text) {
        ++totals_.changes[kind];
        note(std::move(text));
    }
    /// The windows that exist, ascending; made again only after a change.
    const std::vector<WindowID>& liveWindows();
    std::string randomText();
    /// Null, text, a flag, a number, or (when `element`) some window's element.
    Scripted oddValue(bool element = true);
    /// `clockMoves` is false while the timer moves the clock.
    void churn(bool clockMoves);
    void churnOnce();
    void addApplication();
    void quitApplication();
    void changeApplication();
    void addWindow();
    void closeWindow();
    void reorderWindows();
    void minimizedByOthers();
    void moveFocus();
    void retitle();
    void changeRole();
    void changeSettable();
    void changeMinimizeResult();
    void collide();
    void breakWindowList();
    void changeSettingsDirectly();
    void moveClock();
    void toggleTrust();
    void planMidScanEvents();

    // The step and its checks.
    void onCall(const std::string& call);
    bool tickOnce();
    bool step();
    void checkScan(const Table& lastTouchedBefore, const Table& openedAtBefore,
                   const std::optional<MonitorState>& stateBefore, std::size_t minimizedBefore,
                   std::int64_t publishedBefore);
    void problem(std::string text) { problems_.push_back(std::move(text)); }
    std::string failureReport(StepKind kind) const;
    void finish();

    SoakOptions options_;
    std::mt19937_64 random_;
    SimulatedDesktop desktop_;
    simulated::SimulatedRunLoop runLoop_{desktop_.time};
    platform::ScopedBackends installed_{testing_support::withRunLoop(desktop_, runLoop_)};
    std::shared_ptr<platform::InMemoryUserDefaults> defaults_ = std::make_shared<platform::InMemoryUserDefaults>();
    std::shared_ptr<WindowMonitor> monitor_;
    std::int32_t ownPid_ = 0;
    std::vector<WindowID> live_;
    bool liveStale_ = true;
    std::int64_t nextHash_ = 1;
    /// When the scan timer fires next, as the run loop counts it.
    double timerNext_ = 0;
    int ticksToGo_ = 0;
    /// `now` of the last scan that reached the source.
    std::optional<double> lastScan_;

    // What the current step saw.
    Truth truth_;
    Observed observed_;
    std::vector<Attempt> attempts_;
    std::vector<bool> trustAnswers_;
    std::vector<MidScanEvent> events_;
    bool inSnapshot_ = false;
    bool disturbed_ = false;
    int eventsFired_ = 0;
    bool suspended_ = false;
    std::int64_t stepCalls_ = 0;
    std::optional<MonitorState> lastPublished_;
    std::vector<std::string> problems_;
    std::string context_;

    /// The last steps' churn, for the failure report.
    std::deque<std::pair<std::int64_t, std::vector<std::string>>> history_;
    SoakTotals totals_;
    SoakResult result_;
};

WindowSnapshot ObservingSource::snapshot() { return soak_.observe(*inner_); }

Soak::Soak(const SoakOptions& options) : options_(options), random_(options.seed) {
    desktop_.logCalls = false;
    desktop_.onCall = [this](const std::string& call) { onCall(call); };
    ownPid_ = desktop_.ownProcessIdentifier;
    std::shared_ptr<WindowSource> source = std::make_shared<AccessibilityWindowSource>();
    if (options_.wrapSource) source = options_.wrapSource(std::move(source));
    monitor_ = WindowMonitor::create(std::make_shared<ObservingSource>(*this, std::move(source)), defaults_);
    monitor_->onStateChange = [this](const MonitorState& state) {
        ++totals_.publications;
        lastPublished_ = state;
    };
}

// --- churn -------------------------------------------------------------------

const std::vector<WindowID>& Soak::liveWindows() {
    if (!liveStale_) return live_;
    liveStale_ = false;
    auto& live = live_;
    live.clear();
    for (const auto& app : desktop_.applications()) {
        for (const WindowID id : app.windows) {
            if (desktop_.hasWindow(id)) live.push_back(id);
        }
    }
    std::sort(live.begin(), live.end());
    live.erase(std::unique(live.begin(), live.end()), live.end());
    return live;
}

std::string Soak::randomText() {
    switch (below(24)) {
    case 0:
        return "";
    case 1:
        return std::string(500 + below(3500), 'x') + " \xe2\x80\xa6 end";
    case 2:
        return "bad \xff\xfe bytes";
    case 3:
        return "cut short \xe2\x82";
    case 4:
        return "overlong \xc0\xaf slash";
    case 5:
        return "lone surrogate \xed\xa0\x80";
    case 6:
        return std::string("nul\0inside", 10);
    case 7:
        return "\xc3\x9c"
               "n\xc3\xaf"
               "c\xc3\xb6"
               "d\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\xaa\x9f";
    case 8:
        return "INBOX";
    case 9:
        return "inbox";
    case 10:
        return "Inbox";
    case 11:
        return "cafe\xcc\x81"; // a combining accent
    case 12:
        return "caf\xc3\xa9"; // the same, precomposed
    case 13:
        return "\xe2\x80\x8f rtl \xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d";
    case 14:
        return "tab\there\nnewline";
    default:
        return "Document " + std::to_string(below(40));
    }
}

Scripted Soak::oddValue(bool element) {
    switch (below(element ? 5 : 4)) {
    case 0:
        return Scripted{};
    case 1:
        return Scripted{std::string("AXWindow")};
    case 2:
        return Scripted{chance(50)};
    case 3:
        return Scripted{1.0};
    default:
        return Scripted{WindowRef{static_cast<WindowID>(below(3) == 0 ? 999'999 : 1 + below(200))}};
    }
}

void Soak::churn(bool clockMoves) {
    toggleTrust();
    if (clockMoves) moveClock();
    const int steps = static_cast<int>(below(6));
    for (int i = 0; i < steps; ++i)
        churnOnce();
}

void Soak::churnOnce() {
    const auto live = liveWindows();
    const auto r = below(100);
    if (desktop_.applications().empty() || r < 4) return addApplication();
    if (r < 6) return quitApplication();
    if (r < 9) return changeApplication();
    if (live.empty() || (r < 27 && live.size() < kMostWindows)) return addWindow();
    if (r < 35) return closeWindow();
    if (r < 37) return reorderWindows();
    if (r < 50) return minimizedByOthers();
    if (r < 62) return moveFocus();
    if (r < 68) return retitle();
    if (r < 72) return changeRole();
    if (r < 76) return changeSettable();
    if (r < 80) return changeMinimizeResult();
    if (r < 83) return collide();
    if (r < 86) return breakWindowList();
    if (r < 88) return changeSettingsDirectly();
    return live.size() < kMostWindows ? addWindow() : closeWindow();
}

void Soak::addApplication() {
    std::int32_t pid = pick(kPids);
    if (chance(4)) pid = ownPid_;
    if (firstWithPid(desktop_, pid) && !chance(5)) return; // running already; now and then twice
    std::optional<std::string> name = randomText();
    if (chance(8)) name.reset();
    auto& app = desktop_.addApplication(pid, name);
    liveStale_ = true;
    std::string kind = "regular";
    if (chance(6)) {
        app.info.isHidden = true;
        kind = "hidden";
    } else if (chance(4)) {
        app.info.isTerminated = true;
        kind = "terminated";
    } else if (chance(6)) {
        app.info.activationPolicy =
            chance(50) ? workspace::ActivationPolicy::accessory : workspace::ActivationPolicy::prohibited;
        kind = "not regular";
    }
    change("application starts", "app:" + std::to_string(pid) + " starts, " + kind + ", name " +
                                     (name ? "'" + printable(*name) + "'" : "none"));
    const auto windows = below(4);
    for (std::uint64_t i = 0; i < windows; ++i)
        addWindow();
}

void Soak::quitApplication() {
    const std::int32_t pid = pick(desktop_.applications()).info.processIdentifier;
    desktop_.removeApplication(pid);
    liveStale_ = true;
    change("application quits", "app:" + std::to_string(pid) + " quits");
}

void Soak::changeApplication() {
    auto& info = desktop_.applications()[below(desktop_.applications().size())].info;
    const std::string who = "app:" + std::to_string(info.processIdentifier);
    switch (below(4)) {
    case 0:
        info.isHidden = !info.isHidden;
        change("application hidden or shown", who + (info.isHidden ? " hidden" : " shown"));
        break;
    case 1:
        info.isTerminated = chance(30);
        change("application terminated flag", who + (info.isTerminated ? " reports terminated" : " not terminated"));
        break;
    case 2:
        info.activationPolicy =
            chance(60) ? workspace::ActivationPolicy::regular : static_cast<workspace::ActivationPolicy>(1 + below(2));
        change("application activation policy",
               who + " policy " + std::to_string(static_cast<std::int64_t>(info.activationPolicy)));
        break;
    default:
        info.localizedName = chance(85) ? std::optional<std::string>(randomText()) : std::nullopt;
        change("application renamed",
               who + " renamed " + (info.localizedName ? "'" + printable(*info.localizedName) + "'" : "none"));
        break;
    }
}

void Soak::addWindow() {
    const std::int32_t pid = pick(desktop_.applications()).info.processIdentifier;
    const std::string title = randomText();
    const WindowID id = desktop_.addWindow(pid, title).id;
    liveStale_ = true;
    auto& owner = desktop_.application(pid).windows;
    std::string where = "at the back";
    if (chance(15)) {
        std::erase(owner, id);
        owner.insert(owner.begin() + static_cast<std::ptrdiff_t>(below(owner.size() + 1)), id);
        where = "in the middle";
    }
    change("window opens", "win:" + std::to_string(id) + " opens in app:" + std::to_string(pid) + " " + where + ", '" +
                               printable(title) + "'");
    if (chance(30)) {
        desktop_.focus(id);
        change("focus moves", "win:" + std::to_string(id) + " focused, app:" + std::to_string(pid) + " frontmost");
    }
}

void Soak::closeWindow() {
    const auto live = liveWindows();
    if (live.empty()) return;
    const WindowID id = pick(live);
    desktop_.removeWindow(id);
    liveStale_ = true;
    change("window closes", "win:" + std::to_string(id) + " closes");
}

void Soak::reorderWindows() {
    auto& app = desktop_.applications()[below(desktop_.applications().size())];
    if (app.windows.size() < 2) return;
    std::rotate(app.windows.begin(), app.windows.begin() + 1, app.windows.end());
    change("window order", "app:" + std::to_string(app.info.processIdentifier) + " brings its second window forward");
}

void Soak::minimizedByOthers() {
    const auto live = liveWindows();
    std::vector<WindowID> minimized;
    for (const WindowID id : live) {
        const auto* flag = std::get_if<bool>(&desktop_.window(id).minimized.value);
        if (flag && *flag) minimized.push_back(id);
    }
    if (!minimized.empty() && chance(65)) {
        // Restored through the desktop, not by us.
        const WindowID id = pick(minimized);
        desktop_.window(id).minimized = Read{ax::kSuccess, false};
        change("window restored", "win:" + std::to_string(id) + " restored by the user");
        if (chance(40)) {
            desktop_.focus(id);
            change("focus moves", "win:" + std::to_string(id) + " focused");
        }
        return;
    }
    const WindowID id = pick(live);
    auto& window = desktop_.window(id);
    if (chance(70)) {
        window.minimized = Read{ax::kSuccess, true};
        change("window minimized by others", "win:" + std::to_string(id) + " minimized by the user");
    } else {
        window.minimized = chance(40) ? Read{anyError(), {}} : Read{ax::kSuccess, oddValue()};
        fault("minimized read", "win:" + std::to_string(id) + " minimized reads " + describeRead(window.minimized));
    }
}

void Soak::moveFocus() {
    const auto live = liveWindows();
    auto& apps = desktop_.applications();
    const auto r = below(100);
    if (r < 50) {
        const WindowID id = pick(live);
        desktop_.focus(id);
        change("focus moves", "win:" + std::to_string(id) + " focused, its app frontmost");
    } else if (r < 65) {
        const auto which = below(4);
        if (which == 0) {
            desktop_.frontmostProcessIdentifier.reset();
        } else if (which == 1) {
            desktop_.frontmostProcessIdentifier = chance(50) ? ownPid_ : 9999;
        } else {
            desktop_.frontmostProcessIdentifier = pick(apps).info.processIdentifier;
        }
        change("frontmost application", "frontmost " + (desktop_.frontmostProcessIdentifier
                                                            ? std::to_string(*desktop_.frontmostProcessIdentifier)
                                                            : std::string("none")));
    } else if (r < 78) {
        auto& app = apps[below(apps.size())];
        if (app.windows.empty() || chance(25)) {
            app.focusedWindow.reset();
        } else {
            app.focusedWindow = pick(app.windows);
        }
        change("focused window", "app:" + std::to_string(app.info.processIdentifier) + " focuses " +
                                     (app.focusedWindow ? "win:" + std::to_string(*app.focusedWindow) : "nothing"));
    } else {
        auto& app = apps[below(apps.size())];
        const std::string who = "app:" + std::to_string(app.info.processIdentifier);
        if (app.focusedWindowRead && chance(60)) {
            app.focusedWindowRead.reset();
            change("focused read healed", who + " focused window reads normally");
            return;
        }
        switch (below(4)) {
        case 0:
            app.focusedWindowRead = Read{anyError(), {}};
            break;
        case 1:
            app.focusedWindowRead = Read{ax::kSuccess, oddValue()};
            break;
        default: // a window of anyone, or one that is gone
            app.focusedWindowRead = Read{ax::kSuccess, WindowRef{chance(70) ? pick(live) : 999'998}};
            break;
        }
        fault("focused window read", who + " focused window reads " + describeRead(*app.focusedWindowRead));
    }
}

void Soak::retitle() {
    const WindowID id = pick(liveWindows());
    auto& window = desktop_.window(id);
    const auto r = below(100);
    if (r < 80) {
        window.title = Read{ax::kSuccess, randomText()};
        change("title changes", "win:" + std::to_string(id) + " titled " + describeRead(window.title));
    } else {
        window.title = r < 88 ? Read{anyError(), {}} : Read{ax::kSuccess, oddValue()};
        fault("title read", "win:" + std::to_string(id) + " title reads " + describeRead(window.title));
    }
}

void Soak::changeRole() {
    const WindowID id = pick(liveWindows());
    auto& window = desktop_.window(id);
    const std::string who = "win:" + std::to_string(id);
    if (chance(55)) {
        window.role = Read{ax::kSuccess, std::string(ax::kWindowRole)};
        window.subrole = Read{ax::kSuccess, std::string(ax::kStandardWindowSubrole)};
        change("standard window again", who + " is a standard window again");
        return;
    }
    static const std::array<const char*, 4> roles{"AXSheet", "axwindow", "AXWindow ", "AXDrawer"};
    static const std::array<const char*, 4> subroles{"AXDialog", "AXFloatingWindow", "", "AXSystemDialog"};
    Read& read = chance(50) ? window.role : window.subrole;
    const bool isRole = &read == &window.role;
    const auto r = below(10);
    if (r < 5) {
        read = Read{ax::kSuccess, std::string(isRole ? pick(roles) : pick(subroles))};
        change(isRole ? "role changes" : "subrole changes",
               who + (isRole ? " role " : " subrole ") + describeRead(read));
    } else {
        read = r < 8 ? Read{anyError(), {}} : Read{ax::kSuccess, oddValue()};
        fault(isRole ? "role read" : "subrole read",
              who + (isRole ? " role reads " : " subrole reads ") + describeRead(read));
    }
}

void Soak::changeSettable() {
    const WindowID id = pick(liveWindows());
    auto& window = desktop_.window(id);
    const std::string who = "win:" + std::to_string(id);
    const auto r = below(100);
    if (r < 55) {
        window.settable = true;
        window.settableError = ax::kSuccess;
        change("settable again", who + " minimized flag settable");
    } else if (r < 80) {
        window.settable = false;
        change("not settable", who + " minimized flag not settable");
    } else {
        window.settableError = anyError();
        fault("settable query", who + " settable query fails " + std::to_string(window.settableError));
    }
}

void Soak::changeMinimizeResult() {
    const WindowID id = pick(liveWindows());
    auto& window = desktop_.window(id);
    if (chance(55)) {
        window.minimizeResult = ax::kSuccess;
        change("minimizing works", "win:" + std::to_string(id) + " can be minimized");
    } else {
        window.minimizeResult = anyError();
        fault("set minimized",
              "win:" + std::to_string(id) + " minimizing fails " + std::to_string(window.minimizeResult));
    }
}

void Soak::collide() {
    const auto live = liveWindows();
    const WindowID id = pick(live);
    auto& window = desktop_.window(id);
    if (chance(35)) {
        // A fresh value no other window has: the window now looks new.
        window.hash = 0x5EED'0000'0000'0000ULL + static_cast<std::uint64_t>(nextHash_++);
        change("hash changes", "win:" + std::to_string(id) + " hashes anew");
        return;
    }
    std::vector<WindowID> sameApp;
    for (const WindowID other : desktop_.application(window.processIdentifier).windows) {
        if (other != id && desktop_.hasWindow(other)) sameApp.push_back(other);
    }
    const WindowID other = !sameApp.empty() && chance(75) ? pick(sameApp) : pick(live);
    window.hash = desktop_.window(other).hash;
    fault("hash collision", "win:" + std::to_string(id) + " hashes like win:" + std::to_string(other));
}

void Soak::breakWindowList() {
    auto& app = desktop_.applications()[below(desktop_.applications().size())];
    const std::string who = "app:" + std::to_string(app.info.processIdentifier);
    if (chance(55)) {
        app.windowsError = ax::kSuccess;
        app.windowsReplacement.reset();
        app.windowsExtras.clear();
        change("window list healed", who + " lists its windows normally");
        return;
    }
    switch (below(3)) {
    case 0:
        app.windowsError = anyError();
        fault("window list read", who + " window list fails " + std::to_string(app.windowsError));
        break;
    case 1:
        app.windowsReplacement = oddValue();
        fault("window list value", who + " window list is a single value");
        break;
    default: {
        // Junk, one of its own windows again, a window that is gone.
        app.windowsExtras.clear();
        app.windowsExtras.push_back(oddValue(false));
        if (!app.windows.empty()) app.windowsExtras.push_back(WindowRef{pick(app.windows)});
        app.windowsExtras.push_back(WindowRef{999'997});
        fault("window list extras", who + " window list has extra entries");
        break;
    }
    }
}

void Soak::changeSettingsDirectly() {
    if (chance(50)) {
        static const std::array<std::int64_t, 8> limits{0, -1, 11, 40, 1, 2, 3, 5};
        monitor_->limit = pick(limits);
        change("limit field", "limit field set to " + std::to_string(monitor_->limit));
    } else {
        static const std::array<std::int64_t, 6> minutes{1, 5, 0, 2, -3, 60};
        monitor_->inactiveMinutes = chance(30) ? std::nullopt : std::optional<std::int64_t>(pick(minutes));
        change("inactivity field",
               "inactivity field set to " +
                   (monitor_->inactiveMinutes ? std::to_string(*monitor_->inactiveMinutes) : std::string("off")));
    }
}

void Soak::moveClock() {
    const auto r = below(1000);
    double step = 0;
    if (r < 700) {
        step = uniform(0, 2);
    } else if (r < 870) {
        step = uniform(0, 90);
    } else if (r < 920) {
        step = 0;
    } else if (r < 955) {
        step = uniform(60, 7200);
    } else if (r < 980) {
        step = -uniform(0, 2);
    } else if (r < 995) {
        step = -uniform(60, 3600);
    } else {
        step = chance(50) ? 1e-6 : -1e-6;
    }
    desktop_.advance(step);
    if (step < 0) {
        ++totals_.changes["clock set back"];
        note("clock set back " + std::to_string(step) + " s");
    } else if (step > 60) {
        ++totals_.changes["clock jumps forward"];
        note("clock jumps forward " + std::to_string(step) + " s");
    }
}

void Soak::toggleTrust() {
    if (desktop_.trusted ? chance(2) : chance(40)) {
        desktop_.trusted = !desktop_.trusted;
        change("trust", desktop_.trusted ? "trust granted" : "trust revoked");
    }
    if (chance(1)) {
        desktop_.promptGrantsTrust = !desktop_.promptGrantsTrust;
        change("prompt", desktop_.promptGrantsTrust ? "the prompt grants trust" : "the prompt grants nothing");
    }
}

void Soak::planMidScanEvents() {
    events_.clear();
    if (!chance(12)) return;
    const auto live = liveWindows();
    const auto count = 1 + below(2);
    for (std::uint64_t i = 0; i < count; ++i) {
        MidScanEvent event;
        const auto r = below(100);
        if (r < 15 || live.empty()) {
            event.action = MidScanEvent::Action::setTrust;
            event.trustCheck = static_cast<int>(1 + below(3));
            event.trust = chance(50);
        } else if (r < 35) {
            event.action = MidScanEvent::Action::quitApplication;
            event.pid = pick(desktop_.applications()).info.processIdentifier;
            const std::string pid = std::to_string(event.pid);
            switch (below(5)) {
            case 0:
                event.call = "frontmostApplication";
                break;
            case 1:
                event.call = "runningApplications";
                break;
            case 2:
                event.call = "AXUIElementCreateApplication " + pid;
                break;
            case 3:
                event.call = "copy app:" + pid + " AXFocusedWindow";
                break;
            default:
                event.call = "copy app:" + pid + " AXWindows";
                break;
            }
        } else {
            event.window = pick(live);
            const std::string w = std::to_string(event.window);
            static const std::array<std::string_view, 7> closing{" AXRole", " AXSubrole", " AXMinimized", "settable",
                                                                 "hash",    " AXTitle",   "set"};
            if (r < 75) {
                event.action = MidScanEvent::Action::closeWindow;
                std::string_view at = pick(closing);
                // A closed window hashes as it was made, not as a collision
                // set it: closing it at its hash would change its identifier.
                if (at == "hash" && desktop_.window(event.window).hash != madeHash(event.window)) at = " AXTitle";
                if (at == "settable") {
                    event.call = "settable win:" + w + " AXMinimized";
                } else if (at == "hash") {
                    event.call = "hash win:" + w;
                } else if (at == "set") {
                    event.call = "set win:" + w + " AXMinimized";
                } else {
                    event.call = "copy win:" + w + std::string(at);
                }
            } else if (r < 88) {
                event.action = MidScanEvent::Action::userMinimizes;
                event.call = chance(50) ? "copy win:" + w + " AXTitle" : "hash win:" + w;
            } else {
                event.action = MidScanEvent::Action::minimizeFails;
                event.call = "set win:" + w + " AXMinimized";
                event.error = anyError();
            }
        }
        note("planned mid-scan: " + event.describe());
        events_.push_back(std::move(event));
    }
}

// --- the step ----------------------------------------------------------------

void Soak::onCall(const std::string& call) {
    if (suspended_) return;
    ++stepCalls_;
    const bool isTrustCheck = call == "AXIsProcessTrusted";
    for (auto& event : events_) {
        if (event.fired) continue;
        const bool due = event.action == MidScanEvent::Action::setTrust
                             ? isTrustCheck && static_cast<int>(trustAnswers_.size()) + 1 == event.trustCheck
                             : call == event.call;
        if (!due) continue;
        event.fired = true;
        ++totals_.midScanEvents;
        ++eventsFired_;
        switch (event.action) {
        case MidScanEvent::Action::closeWindow:
            desktop_.removeWindow(event.window);
            liveStale_ = true;
            break;
        case MidScanEvent::Action::quitApplication:
            desktop_.removeApplication(event.pid);
            liveStale_ = true;
            break;
        case MidScanEvent::Action::userMinimizes:
            if (desktop_.hasWindow(event.window)) desktop_.window(event.window).minimized = Read{ax::kSuccess, true};
            break;
        case MidScanEvent::Action::minimizeFails:
            if (desktop_.hasWindow(event.window)) desktop_.window(event.window).minimizeResult = event.error;
            break;
        case MidScanEvent::Action::setTrust:
            desktop_.trusted = event.trust;
            break;
        }
        if (inSnapshot_ && event.action != MidScanEvent::Action::setTrust) disturbed_ = true;
        note("mid-scan: " + event.describe());
    }
    if (isTrustCheck) trustAnswers_.push_back(desktop_.trusted);
    if (call.starts_with("set win:")) {
        const WindowID window = std::stoll(call.substr(8));
        attempts_.push_back(
            Attempt{window, desktop_.hasWindow(window) && desktop_.window(window).minimizeResult == ax::kSuccess});
    }
}

bool Soak::tickOnce() {
    // Exactly one tick when it can be had; a clock that ran far ahead would
    // make the loop catch up with many, so then the timer starts anew.
    const double seconds = std::max(timerNext_ - desktop_.time, 0.0) + 0.01;
    const double end = desktop_.time + seconds;
    if (end < timerNext_ || end >= timerNext_ + WindowMonitor::scanInterval) return false;
    const int ticks = runLoop_.advance(seconds);
    timerNext_ += WindowMonitor::scanInterval;
    ++totals_.timerTicks;
    if (ticks != 1) problem("the scan timer ticked " + std::to_string(ticks) + " times, not once");
    return true;
}

WindowSnapshot Soak::observe(WindowSource& inner) {
    ++observed_.snapshots;
    observed_.trustIndex = trustAnswers_.size();
    observed_.time = desktop_.time;
    inSnapshot_ = true;
    WindowSnapshot snapshot = inner.snapshot();
    inSnapshot_ = false;

    // Which window each record stands for, asked of the desktop itself.
    suspended_ = true;
    observed_.records.clear();
    for (const auto& record : snapshot.windows) {
        Listed listed{.window = -1, .id = record.id, .applicationName = record.applicationName, .title = record.title};
        if (record.element && record.element.backend() == &desktop_) {
            for (const auto& candidate : truth_.records) {
                if (candidate.id != record.id) continue;
                if (desktop_.equal(record.element, desktop_.makeWindowElement(candidate.window))) {
                    listed.window = candidate.window;
                    break;
                }
            }
        }
        if (listed.window < 0) observed_.unresolved = true;
        observed_.records.push_back(std::move(listed));
    }
    observed_.currentWindowID = snapshot.currentWindowID;
    suspended_ = false;
    return snapshot;
}

bool Soak::step() {
    history_.emplace_back(totals_.scans + 1, std::vector<std::string>{});
    if (history_.size() > 4) history_.pop_front();

    StepKind kind = StepKind::scan;
    if (totals_.steps == 0) {
        kind = StepKind::start;
    } else if (ticksToGo_ > 0) {
        // A run of timer ticks, the desktop changing between them.
        --ticksToGo_;
        kind = StepKind::tick;
        churn(false);
    } else {
        const auto r = below(1000);
        kind = r < 880   ? StepKind::scan
               : r < 890 ? StepKind::tick
               : r < 895 ? StepKind::restart
               : r < 950 ? StepKind::setLimit
                         : StepKind::setInactive;
        if (kind == StepKind::tick) ticksToGo_ = static_cast<int>(below(30));
        churn(kind != StepKind::tick);
    }
    ++totals_.steps;

    const Table lastTouchedBefore(Access::lastTouched(*monitor_).begin(), Access::lastTouched(*monitor_).end());
    const Table openedAtBefore(Access::openedAt(*monitor_).begin(), Access::openedAt(*monitor_).end());
    const auto stateBefore = Access::lastState(*monitor_);
    const std::size_t minimizedBefore = desktop_.minimizedWindows().size();
    const std::int64_t publishedBefore = totals_.publications;
    const std::size_t accountingBefore = desktop_.accountingErrors().size();
    truth_ = desktopTruth(desktop_, ownPid_);
    observed_ = Observed{};
    attempts_.clear();
    trustAnswers_.clear();
    disturbed_ = false;
    eventsFired_ = 0;
    stepCalls_ = 0;
    problems_.clear();
    context_.clear();
    planMidScanEvents();

    bool scans = true;
    switch (kind) {
    case StepKind::start:
        monitor_->start();
        timerNext_ = desktop_.time + WindowMonitor::scanInterval;
        break;
    case StepKind::scan:
        monitor_->scanNow();
        break;
    case StepKind::tick:
        if (tickOnce()) break;
        kind = StepKind::restart;
        [[fallthrough]];
    case StepKind::restart:
        monitor_->stop();
        if (Access::timer(*monitor_)) problem("the timer is still held after stop()");
        if (runLoop_.validTimers() != 0) problem("a timer is still valid after stop()");
        monitor_->start();
        timerNext_ = desktop_.time + WindowMonitor::scanInterval;
        ++totals_.restarts;
        break;
    case StepKind::setLimit: {
        static const std::array<std::int64_t, 5> invalid{0, 11, -1, 1000, std::numeric_limits<std::int64_t>::min()};
        const std::int64_t value = chance(85) ? static_cast<std::int64_t>(1 + below(10)) : pick(invalid);
        note("setLimit(" + std::to_string(value) + ")");
        const std::int64_t before = monitor_->limit;
        monitor_->setLimit(value);
        scans = value >= 1 && value <= 10;
        if (scans && defaults_->integerForKey(WindowMonitor::windowLimitKey) != value) {
            problem("setLimit did not store the limit");
        }
        if (!scans && monitor_->limit != before) problem("a rejected limit changed the limit");
        break;
    }
    case StepKind::setInactive: {
        static const std::array<std::int64_t, 4> invalid{0, 2, -5, 61};
        const auto r = below(100);
        const std::optional<std::int64_t> value =
            r < 30
                ? std::nullopt
                : std::optional<std::int64_t>(r < 90 ? pick(WindowMonitor::supportedInactiveMinutes) : pick(invalid));
        note("setInactiveMinutes(" + (value ? std::to_string(*value) : std::string("none")) + ")");
        const auto before = monitor_->inactiveMinutes;
        monitor_->setInactiveMinutes(value);
        scans = !value || std::find(WindowMonitor::supportedInactiveMinutes.begin(),
                                    WindowMonitor::supportedInactiveMinutes.end(),
                                    *value) != WindowMonitor::supportedInactiveMinutes.end();
        if (scans && monitor_->inactiveMinutes != value) problem("setInactiveMinutes did not take the period");
        if (!scans && monitor_->inactiveMinutes != before) problem("a rejected period changed the setting");
        break;
    }
    }

    if (desktop_.liveElements() != 0) {
        problem(std::to_string(desktop_.liveElements()) + " element(s) still alive after the step");
    }
    if (desktop_.accountingErrors().size() != accountingBefore) {
        problem("element accounting error: " + desktop_.accountingErrors()[accountingBefore]);
    }
    if (scans) {
        ++totals_.scans;
        if (kind == StepKind::setLimit || kind == StepKind::setInactive) ++totals_.setterScans;
        checkScan(lastTouchedBefore, openedAtBefore, stateBefore, minimizedBefore, publishedBefore);
    } else {
        ++totals_.rejectedSetterCalls;
        if (stepCalls_ != 0) problem("a rejected setting made " + std::to_string(stepCalls_) + " platform call(s)");
        if (totals_.publications != publishedBefore) problem("a rejected setting published a state");
        if (Access::lastTouched(*monitor_).size() != lastTouchedBefore.size()) {
            problem("a rejected setting changed the tables");
        }
    }
    if (!problems_.empty()) {
        result_.passed = false;
        result_.failure = failureReport(kind);
        return false;
    }
    return true;
}

void Soak::checkScan(const Table& lastTouchedBefore, const Table& openedAtBefore,
                     const std::optional<MonitorState>& stateBefore, std::size_t minimizedBefore,
                     std::int64_t publishedBefore) {
    const auto& minimizedLog = desktop_.minimizedWindows();
    const std::vector<WindowID> minimized(minimizedLog.begin() + static_cast<std::ptrdiff_t>(minimizedBefore),
                                          minimizedLog.end());
    const auto& lastTouched = Access::lastTouched(*monitor_);
    const auto& openedAt = Access::openedAt(*monitor_);
    const auto after = Access::lastState(*monitor_);
    if (!after) {
        problem("no state recorded after a scan");
        return;
    }
    if (observed_.snapshots > 1) problem("one scan took " + std::to_string(observed_.snapshots) + " snapshots");
    if (trustAnswers_.empty()) {
        problem("the scan never checked trust");
        return;
    }

    // What the monitor must have done, and what it must publish.
    MonitorState expected{.isTrusted = trustAnswers_.back(),
                          .visibleWindowCount = 0,
                          .limit = monitor_->limit,
                          .inactiveMinutes = monitor_->inactiveMinutes,
                          .activeWindows = {}};
    Table expectedLastTouched;
    Table expectedOpenedAt;
    std::vector<WindowID> expectedAttempts;

    if (observed_.snapshots == 0) {
        ++totals_.untrustedScans;
        lastScan_.reset();
    } else {
        const auto& records = observed_.records;
        const auto& current = observed_.currentWindowID;
        const double now = observed_.time;
        if (observed_.trustIndex >= trustAnswers_.size()) {
            problem("the source did not check trust");
        } else if (!trustAnswers_[observed_.trustIndex]) {
            ++totals_.untrustedScans;
            if (!records.empty() || current) problem("the source listed windows without trust");
        } else {
            ++totals_.trustedScans;
            // The snapshot against the desktop's truth at the time it was taken.
            if (!disturbed_) {
                ++totals_.exactSnapshots;
                const auto& want = truth_.records;
                for (std::size_t i = 0; i < std::max(records.size(), want.size()); ++i) {
                    const bool same = i < records.size() && i < want.size() && records[i].window == want[i].window &&
                                      records[i].id == want[i].id &&
                                      records[i].applicationName == want[i].applicationName &&
                                      records[i].title == want[i].title;
                    if (!same) {
                        std::ostringstream out;
                        out << "snapshot record " << i << " is ";
                        if (i < records.size()) {
                            out << "win:" << records[i].window << " " << records[i].id << " '"
                                << printable(records[i].applicationName) << "' '" << printable(records[i].title) << "'";
                        } else {
                            out << "missing";
                        }
                        out << ", the desktop says ";
                        if (i < want.size()) {
                            out << "win:" << want[i].window << " " << want[i].id << " '"
                                << printable(want[i].applicationName) << "' '" << printable(want[i].title) << "'";
                        } else {
                            out << "none";
                        }
                        problem(out.str());
                        break;
                    }
                }
                if (current != truth_.currentWindowID) {
                    problem("snapshot names " + current.value_or("no window") + " focused, the desktop says " +
                            truth_.currentWindowID.value_or("none"));
                }
            } else {
                // Windows closed, minimized or applications quit while it was
                // taken: what it lists must still be in order and true before.
                ++totals_.disturbedSnapshots;
                std::size_t j = 0;
                for (const auto& record : records) {
                    while (j < truth_.records.size() &&
                           (truth_.records[j].window != record.window || truth_.records[j].id != record.id)) {
                        ++j;
                    }
                    if (j == truth_.records.size()) {
                        problem("disturbed snapshot lists " + record.id + " out of the desktop's order");
                        break;
                    }
                    const auto& want = truth_.records[j++];
                    if (record.applicationName != want.applicationName ||
                        (record.title != want.title && record.title != "Untitled Window")) {
                        problem("disturbed snapshot gives " + record.id + " the wrong name or title");
                    }
                }
                if (current && current != truth_.currentWindowID) {
                    problem("disturbed snapshot names " + *current + " focused, the desktop says " +
                            truth_.currentWindowID.value_or("none"));
                }
            }
        }
        if (observed_.unresolved) problem("the snapshot lists an element that is not a candidate window");

        // The desktop itself after the scan, when nothing else changed it:
        // what is still visible is what was counted, and within the limit
        // when every minimizing call went through.
        std::set<WindowID> windowsListed;
        for (const auto& record : records)
            windowsListed.insert(record.window);
        if (observed_.trustIndex < trustAnswers_.size() && trustAnswers_[observed_.trustIndex] && eventsFired_ == 0 &&
            windowsListed.size() == records.size()) {
            const auto visible = static_cast<std::int64_t>(desktopTruth(desktop_, ownPid_).records.size());
            if (after->visibleWindowCount != visible) {
                problem(std::to_string(visible) + " windows are visible on the desktop, " +
                        std::to_string(after->visibleWindowCount) + " published");
            }
            std::set<std::string> ids;
            for (const auto& record : records)
                ids.insert(record.id);
            const bool allWent =
                std::all_of(attempts_.begin(), attempts_.end(), [](const auto& a) { return a.accepted; });
            if (allWent && ids.size() == records.size() && visible > std::max<std::int64_t>(monitor_->limit, 0)) {
                problem(std::to_string(visible) + " windows stay visible on the desktop over a limit of " +
                        std::to_string(monitor_->limit));
            }
        }
        totals_.records += static_cast<std::int64_t>(records.size());
        totals_.mostRecords = std::max(totals_.mostRecords, static_cast<std::int64_t>(records.size()));

        const Decision d = decide(records, current, now, lastTouchedBefore, openedAtBefore, lastScan_, monitor_->limit,
                                  monitor_->inactiveMinutes);
        {
            // What the scan worked with, for the report.
            std::ostringstream out;
            out.precision(17);
            out << "limit " << monitor_->limit << ", inactive "
                << (monitor_->inactiveMinutes ? std::to_string(*monitor_->inactiveMinutes) : "off") << ", now " << now
                << ", last scan " << (lastScan_ ? std::to_string(*lastScan_) : "none") << ", focused "
                << current.value_or("none") << "\n";
            for (const auto& record : records) {
                const auto before = lastTouchedBefore.find(record.id);
                out << "    win:" << record.window << " " << record.id << " touched ";
                if (before != lastTouchedBefore.end()) {
                    out << before->second;
                } else {
                    out << "never";
                }
                out << " -> " << d.lastTouched.at(record.id) << (d.chosenIDs.contains(record.id) ? " chosen" : "")
                    << "\n";
            }
            context_ = out.str();
        }
        lastScan_ = now;
        for (const std::size_t index : d.chosen)
            expectedAttempts.push_back(records[index].window);

        std::set<std::string> succeeded;
        {
            // Successes in the order tried, matched to the windows asked.
            std::size_t s = 0;
            for (std::size_t a = 0; a < attempts_.size() && a < d.chosen.size(); ++a) {
                if (attempts_[a].accepted && s < minimized.size() && minimized[s] == attempts_[a].window) {
                    succeeded.insert(records[d.chosen[a]].id);
                    ++s;
                }
            }
        }
        expectedLastTouched = d.lastTouched;
        expectedOpenedAt = d.openedAt;
        for (const auto& id : succeeded) {
            expectedLastTouched.erase(id);
            expectedOpenedAt.erase(id);
        }
        expected.visibleWindowCount =
            static_cast<std::int64_t>(records.size()) - static_cast<std::int64_t>(minimized.size());
        std::vector<ActiveWindowSummary> rows;
        for (const auto& record : records) {
            if (d.chosenIDs.contains(record.id)) continue;
            rows.push_back(ActiveWindowSummary{
                .id = record.id,
                .applicationName = record.applicationName,
                .title = record.title,
                .openDurationSeconds = wholeSeconds(d.openedAt.at(record.id), now),
                .isCurrent = current && *current == record.id,
            });
        }
        stableMergeSort(rows, summaryComesBefore);
        expected.activeWindows = std::move(rows);

        // Plain promises, whatever the rules above say.
        const std::int64_t kept = std::max<std::int64_t>(monitor_->limit, 0);
        if (static_cast<std::int64_t>(after->activeWindows.size()) > kept) {
            problem(std::to_string(after->activeWindows.size()) + " rows stay visible over a limit of " +
                    std::to_string(monitor_->limit));
        }
        if (current && monitor_->limit >= 1 &&
            std::count_if(records.begin(), records.end(), [&](const auto& r) { return r.id == *current; }) == 1) {
            for (const auto& record : records) {
                if (record.id != *current) continue;
                for (const auto& attempt : attempts_) {
                    if (attempt.window == record.window) {
                        problem("the focused window " + *current + " (win:" + std::to_string(record.window) +
                                ") was minimized");
                    }
                }
            }
        }
        if (monitor_->inactiveMinutes && *monitor_->inactiveMinutes > 0 &&
            std::all_of(attempts_.begin(), attempts_.end(), [](const auto& a) { return a.accepted; })) {
            const double interval = static_cast<double>(*monitor_->inactiveMinutes * 60);
            for (const auto& [id, instant] : lastTouched) {
                if (id != current && now - instant >= interval) {
                    problem(id + " stays visible though inactive for " + std::to_string(now - instant) + " s");
                }
            }
        }
    }

    // Only candidates, never one minimized already at snapshot time.
    for (const WindowID window : minimized) {
        if (!truth_.candidates.contains(window)) {
            problem("win:" + std::to_string(window) + " was minimized but was not a candidate");
        }
    }
    for (const auto& attempt : attempts_) {
        if (!truth_.candidates.contains(attempt.window)) {
            problem("tried to minimize win:" + std::to_string(attempt.window) + ", not a candidate");
        }
    }
    std::vector<WindowID> attempted;
    std::vector<WindowID> accepted;
    for (const auto& attempt : attempts_) {
        attempted.push_back(attempt.window);
        if (attempt.accepted) accepted.push_back(attempt.window);
    }
    if (attempted != expectedAttempts) {
        std::string text = "minimizing tried [";
        for (const auto w : attempted)
            text += " " + std::to_string(w);
        text += " ], the rules choose [";
        for (const auto w : expectedAttempts)
            text += " " + std::to_string(w);
        problem(text + " ]");
    }
    if (accepted != minimized) problem("the windows minimized are not those whose minimizing succeeded");
    totals_.minimized += static_cast<std::int64_t>(minimized.size());
    totals_.failedMinimizations += static_cast<std::int64_t>(attempts_.size() - minimized.size());

    // The tables: only listed windows, with the instants the rules give.
    const auto compare = [&](const char* name, const auto& actual, const Table& want) {
        if (actual.size() != want.size()) {
            problem(std::string(name) + " holds " + std::to_string(actual.size()) + " windows, the rules say " +
                    std::to_string(want.size()));
            return;
        }
        for (const auto& [id, instant] : want) {
            const auto found = actual.find(id);
            if (found == actual.end()) {
                problem(std::string(name) + " lacks " + id);
                return;
            }
            if (found->second != instant) {
                std::ostringstream out;
                out.precision(17);
                out << name << "[" << id << "] is " << found->second << ", the rules say " << instant;
                problem(out.str());
                return;
            }
        }
    };
    compare("lastTouched", lastTouched, expectedLastTouched);
    compare("openedAt", openedAt, expectedOpenedAt);
    std::set<std::string> listed;
    for (const auto& record : observed_.records)
        listed.insert(record.id);
    for (const auto* table : {&lastTouched, &openedAt}) {
        for (const auto& entry : *table) {
            if (!listed.contains(entry.first)) problem("a table holds " + entry.first + ", which was not listed");
        }
    }

    // The published state, and publication only on change.
    if (after->visibleWindowCount < static_cast<std::int64_t>(after->activeWindows.size())) {
        problem("fewer windows counted visible than rows");
    }
    if (*after != expected) {
        problem("state " + describeState(*after) + ", the rules give " + describeState(expected));
    }
    const bool changed = !stateBefore || *stateBefore != *after;
    if (totals_.publications - publishedBefore != (changed ? 1 : 0)) {
        problem(std::to_string(totals_.publications - publishedBefore) + " publications for a state that " +
                (changed ? "changed" : "did not change"));
    } else if (changed && (!lastPublished_ || *lastPublished_ != *after)) {
        problem("the observer was given another state than the one recorded");
    }
}

std::string Soak::failureReport(StepKind kind) const {
    std::ostringstream out;
    out << "soak failed: seed " << options_.seed << ", scan " << totals_.scans << " (step " << totals_.steps << ", "
        << stepName(kind) << ")\n";
    for (const auto& text : problems_)
        out << "  - " << text << "\n";
    if (!context_.empty()) out << "the scan: " << context_;
    out << "the last churn:\n";
    for (const auto& [scan, notes] : history_) {
        out << "  before scan " << scan << ":";
        if (notes.empty()) out << " nothing";
        out << "\n";
        for (const auto& text : notes)
            out << "    " << text << "\n";
    }
    out << "replay: quellan_soak --seed " << options_.seed << " --scans " << totals_.scans << "\n";
    return out.str();
}

void Soak::finish() {
    monitor_->stop();
    const std::weak_ptr<WindowMonitor> held = monitor_;
    monitor_.reset();
    if (!held.expired()) problem("the monitor outlives its last owner");
    if (desktop_.liveElements() != 0) {
        problem(std::to_string(desktop_.liveElements()) + " element(s) alive after the monitor is gone");
    }
    if (!desktop_.accountingErrors().empty()) {
        problem("element accounting error: " + desktop_.accountingErrors().front());
    }
    if (runLoop_.validTimers() != 0) problem("a timer is still valid after the monitor is gone");
    if (!problems_.empty() && result_.passed) {
        result_.passed = false;
        std::ostringstream out;
        out << "soak failed at teardown: seed " << options_.seed << ", after " << totals_.scans << " scans\n";
        for (const auto& text : problems_)
            out << "  - " << text << "\n";
        result_.failure = out.str();
    }
    const auto& counts = desktop_.counts();
    totals_.platformCalls = counts.isProcessTrusted + counts.trustPrompt + counts.frontmostApplication +
                            counts.runningApplications + counts.createApplication + counts.copyAttributeValue +
                            counts.isAttributeSettable + counts.setAttributeValue + counts.equal + counts.hash +
                            counts.processIdentifier + counts.clockReads;
    totals_.elementsCreated = static_cast<std::int64_t>(desktop_.elementsCreated());
}

SoakResult Soak::run() {
    while (totals_.scans < options_.scans) {
        if (!step()) break;
    }
    problems_.clear();
    finish();
    result_.totals = totals_;
    return result_;
}

} // namespace

SoakResult runSoak(const SoakOptions& options) {
    Soak soak(options);
    return soak.run();
}

} // namespace quellan::soak
