// The soak's engine: a random desktop that changes and fails between and
// during scans, and the promises every step must keep. It does not
// re-derive which windows the limit picks; it checks what must be true of
// any pick: only candidates, never the focused window, never more than the
// limit left when every request was answered, nothing held afterwards.
#include "soak/SoakRun.hpp"

#include "Platform/simulated/SimulatedRunLoop.hpp"
#include "Support.hpp"

#include <array>
#include <deque>
#include <random>
#include <set>

namespace quellan::soak {
namespace {

using simulated::Read;
using simulated::Scripted;
using simulated::SimApplication;
using simulated::SimulatedDesktop;
using simulated::SimWindow;
using simulated::WindowID;
using simulated::WindowRef;
using Access = WindowMonitorTestAccess;

// Only zero is success, so a positive code is a failure too.
constexpr std::array<ax::Error, 6> kErrors{
    ax::kFailure, ax::kInvalidElement, ax::kCannotComplete, ax::kAttributeUnsupported, ax::kNoValue, 7};
constexpr std::array<std::int32_t, 10> kPids{-7, 0, 100, 101, 102, 103, 104, 105, 106, 107};
constexpr std::size_t kMostWindows = 24;
constexpr WindowID kNoSuchWindow = 999'999;

bool readsText(const Read& read, std::string_view expected) {
    const auto* text = std::get_if<std::string>(&read.value);
    return read.error == ax::kSuccess && text && *text == expected;
}

bool readsTrue(const Read& read) {
    const auto* flag = std::get_if<bool>(&read.value);
    return read.error == ax::kSuccess && flag && *flag;
}

class Soak {
public:
    explicit Soak(const SoakOptions& options);
    SoakResult run();

private:
    /// Sees each snapshot on its way to the monitor.
    class Observer final : public WindowSource {
    public:
        Observer(Soak& soak, std::shared_ptr<WindowSource> inner) : soak_(soak), inner_(std::move(inner)) {}
        WindowSnapshot snapshot() override {
            WindowSnapshot snapshot = inner_->snapshot();
            ++soak_.totals_.scans;
            soak_.lastSnapshotIDs_.clear();
            for (const auto& record : snapshot.windows)
                soak_.lastSnapshotIDs_.push_back(record.id);
            soak_.totals_.records += static_cast<std::int64_t>(snapshot.windows.size());
            return snapshot;
        }

    private:
        Soak& soak_;
        std::shared_ptr<WindowSource> inner_;
    };

    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : random_() % n; }
    bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }
    template <typename C> const auto& pick(const C& from) { return from[below(from.size())]; }
    ax::Error anyError() { return pick(kErrors); }

    void note(std::string text) { history_.back().push_back(std::move(text)); }
    void fault(const std::string& kind) {
        ++totals_.faults[kind];
        note("fault: " + kind);
    }
    void problem(std::string text) { problems_.push_back(std::move(text)); }

    std::vector<WindowID> liveWindows();
    std::string randomText();
    void churn();
    void changeApplications();
    void changeWindow(SimWindow& window);
    void breakApplication(SimApplication& app);
    void onCall(const std::string& call);

    /// The windows the source may list: those a listed application's
    /// readable window list names, that read as standard, unminimized
    /// windows whose minimized flag can be set.
    std::set<WindowID> candidates();
    /// The window the frontmost application reports as focused, if any.
    std::optional<WindowID> focusedWindow();
    bool step();
    void checkPublication(const MonitorState& state);

    SoakOptions options_;
    std::mt19937_64 random_;
    SimulatedDesktop desktop_;
    simulated::SimulatedRunLoop runLoop_{desktop_.time};
    platform::ScopedBackends installed_{testing_support::withRunLoop(desktop_, runLoop_)};
    std::shared_ptr<platform::InMemoryUserDefaults> defaults_ = std::make_shared<platform::InMemoryUserDefaults>();
    std::shared_ptr<WindowMonitor> monitor_;

    // What the current step saw.
    std::int64_t callsThisStep_ = 0;
    std::int64_t setCallsThisStep_ = 0;
    std::int64_t midScanCall_ = -1;
    /// When the scan timer fires next, as the run loop counts it.
    double timerNext_ = 0;
    bool midScanFired_ = false;
    std::vector<std::string> lastSnapshotIDs_;
    std::optional<MonitorState> lastPublished_;
    std::vector<std::string> problems_;
    std::deque<std::vector<std::string>> history_;
    SoakTotals totals_;
};

Soak::Soak(const SoakOptions& options) : options_(options), random_(options.seed) {
    desktop_.logCalls = false;
    desktop_.onCall = [this](const std::string& call) { onCall(call); };
    std::shared_ptr<WindowSource> source = std::make_shared<AccessibilityWindowSource>();
    if (options_.wrapSource) source = options_.wrapSource(std::move(source), desktop_);
    monitor_ = WindowMonitor::create(std::make_shared<Observer>(*this, std::move(source)), defaults_);
    monitor_->onStateChange = [this](const MonitorState& state) { checkPublication(state); };
}

// --- churn -------------------------------------------------------------------

std::vector<WindowID> Soak::liveWindows() {
    std::set<WindowID> live;
    for (const auto& app : desktop_.applications()) {
        for (const WindowID id : app.windows)
            if (desktop_.hasWindow(id)) live.insert(id);
    }
    return {live.begin(), live.end()};
}

std::string Soak::randomText() {
    switch (below(12)) {
    case 0:
        return "";
    case 1:
        return std::string(500 + below(3500), 'x');
    case 2:
        return "bad \xff\xfe bytes, cut short \xe2\x82";
    case 3:
        return std::string("nul\0inside", 10);
    case 4:
        return "\xc3\x9cn\xc3\xaf"
               "c\xc3\xb6"
               "d\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\xaa\x9f";
    case 5:
        return chance(50) ? "INBOX" : "inbox"; // alike but for case: rows stay in a stable order
    case 6:
        return chance(50) ? "cafe\xcc\x81" : "caf\xc3\xa9";
    default:
        return "Document " + std::to_string(below(40));
    }
}

void Soak::churn() {
    if (desktop_.trusted ? chance(2) : chance(40)) {
        desktop_.trusted = !desktop_.trusted;
        note(desktop_.trusted ? "trust granted" : "trust revoked");
    }
    const int changes = static_cast<int>(below(6));
    for (int i = 0; i < changes; ++i) {
        const auto live = liveWindows();
        const auto r = below(100);
        if (desktop_.applications().empty() || r < 8) {
            changeApplications();
        } else if (live.empty() || (r < 30 && live.size() < kMostWindows)) {
            const auto& owner = pick(desktop_.applications());
            const std::string title = randomText();
            auto& window = desktop_.addWindow(owner.info.processIdentifier, title);
            note("window " + std::to_string(window.id) + " opened");
            if (chance(30)) changeWindow(window);
        } else if (r < 40) {
            desktop_.removeWindow(pick(live));
            note("a window closed");
        } else if (r < 55) {
            // Minimized or restored by someone else; restored mostly, as the
            // soak itself minimizes many.
            std::vector<WindowID> minimized;
            std::copy_if(live.begin(), live.end(), std::back_inserter(minimized),
                         [&](WindowID id) { return readsTrue(desktop_.window(id).minimized); });
            const bool restore = !minimized.empty() && chance(75);
            auto& window = desktop_.window(restore ? pick(minimized) : pick(live));
            window.minimized.error = ax::kSuccess;
            window.minimized.value = !restore;
            note("window " + std::to_string(window.id) + (restore ? " restored" : " minimized"));
        } else if (r < 70) {
            desktop_.focus(pick(live));
            note("focus moved");
        } else if (r < 75) {
            desktop_.frontmostProcessIdentifier =
                chance(50) ? std::nullopt
                           : std::optional<std::int32_t>(pick(desktop_.applications()).info.processIdentifier);
            note("another application came to the front");
        } else if (r < 90) {
            changeWindow(desktop_.window(pick(live)));
        } else {
            breakApplication(desktop_.applications()[below(desktop_.applications().size())]);
        }
    }
    // Time moves on mostly through the timer's ticks; between them a little,
    // never as far as the next tick. Now and then the clock jumps either way.
    const auto r = below(100);
    if (r < 97) {
        const double gap = timerNext_ - desktop_.time;
        desktop_.advance(gap > 0 ? std::min(0.05 * static_cast<double>(below(4)), gap / 2) : 0.05);
    } else {
        const double jump = r < 99 ? 60.0 * static_cast<double>(1 + below(90)) : -30.0;
        desktop_.advance(jump);
        note("clock moved by " + std::to_string(jump) + " s");
    }
}

void Soak::changeApplications() {
    auto& apps = desktop_.applications();
    if (!apps.empty() && chance(35)) {
        const std::int32_t pid = pick(apps).info.processIdentifier;
        desktop_.removeApplication(pid);
        note("application " + std::to_string(pid) + " quit");
        return;
    }
    // Now and then the program itself, or a second application with a pid
    // that is running already.
    const std::int32_t pid = chance(5) ? desktop_.ownProcessIdentifier : pick(kPids);
    auto& app = desktop_.addApplication(pid, chance(10) ? std::nullopt : std::optional(randomText()));
    const auto kind = below(10);
    if (kind == 0) app.info.isHidden = true;
    if (kind == 1) app.info.isTerminated = true;
    if (kind == 2) app.info.activationPolicy = workspace::ActivationPolicy::accessory;
    if (kind == 3) app.info.activationPolicy = workspace::ActivationPolicy::prohibited;
    note("application " + std::to_string(pid) + " started");
}

void Soak::changeWindow(SimWindow& window) {
    const auto restore = chance(50);
    switch (below(7)) {
    case 0:
        window.title = restore ? Read{ax::kSuccess, randomText()} : Read{anyError(), {}};
        return fault("title read");
    case 1:
        window.role = restore ? Read{ax::kSuccess, std::string(ax::kWindowRole)}
                              : (chance(50) ? Read{anyError(), {}} : Read{ax::kSuccess, std::string("AXSheet")});
        return fault("role read");
    case 2:
        window.subrole = restore ? Read{ax::kSuccess, std::string(ax::kStandardWindowSubrole)}
                                 : (chance(50) ? Read{anyError(), {}} : Read{ax::kSuccess, std::string("AXDialog")});
        return fault("subrole read");
    case 3:
        // A failed or odd minimized read means not minimized.
        window.minimized =
            restore ? Read{ax::kSuccess, false} : (chance(50) ? Read{anyError(), {}} : Read{ax::kSuccess, 1.0});
        return fault("minimized read");
    case 4:
        window.settableError = restore ? ax::kSuccess : anyError();
        window.settable = restore || chance(50);
        return fault("settable query");
    case 5:
        window.minimizeResult = restore ? ax::kSuccess : anyError();
        return fault("set minimized");
    default: {
        // Another window of the same application with the same hash.
        const auto& siblings = desktop_.application(window.processIdentifier).windows;
        if (!siblings.empty()) window.hash = desktop_.window(pick(siblings)).hash;
        return fault("hash collision");
    }
    }
}

void Soak::breakApplication(SimApplication& app) {
    const auto ownWindow = [&]() -> Scripted {
        if (app.windows.empty() || chance(30)) return WindowRef{kNoSuchWindow};
        return WindowRef{pick(app.windows)};
    };
    switch (below(4)) {
    case 0:
        app.windowsError = chance(50) ? ax::kSuccess : anyError();
        return fault("window list read");
    case 1:
        if (chance(50)) {
            app.windowsReplacement.reset();
        } else {
            // Null, or a text where the list belongs.
            auto& replacement = app.windowsReplacement.emplace();
            if (chance(50)) replacement = std::string("AXWindow");
        }
        return fault("window list value");
    case 2:
        // The list mixes in other values, an entry twice, or a window gone.
        app.windowsExtras.clear();
        if (chance(60)) app.windowsExtras = {Scripted{true}, ownWindow(), Scripted{2.0}};
        return fault("window list extras");
    default:
        if (chance(40)) {
            app.focusedWindowRead.reset();
        } else {
            app.focusedWindowRead = chance(50) ? Read{anyError(), {}} : Read{ax::kSuccess, ownWindow()};
        }
        return fault("focused window read");
    }
}

void Soak::onCall(const std::string& call) {
    ++callsThisStep_;
    if (call.starts_with("set ")) ++setCallsThisStep_;
    // A scan without trust ends at its trust check; one with trust is
    // counted as its snapshot is taken.
    if (call == "AXIsProcessTrusted" && !desktop_.trusted) {
        ++totals_.scans;
        ++totals_.untrustedScans;
    }
    if (callsThisStep_ != midScanCall_) return;
    // The desktop changes while the snapshot is being taken.
    midScanFired_ = true;
    ++totals_.midScanEvents;
    const auto live = liveWindows();
    if (!live.empty() && chance(70)) {
        desktop_.removeWindow(pick(live));
        note("mid-scan: a window closed");
    } else if (!desktop_.applications().empty()) {
        desktop_.removeApplication(pick(desktop_.applications()).info.processIdentifier);
        note("mid-scan: an application quit");
    }
}

// --- the checks --------------------------------------------------------------

std::set<WindowID> Soak::candidates() {
    std::set<WindowID> found;
    const auto consider = [&](WindowID id) {
        if (!desktop_.hasWindow(id)) return;
        const SimWindow& window = desktop_.window(id);
        if (readsText(window.role, ax::kWindowRole) && readsText(window.subrole, ax::kStandardWindowSubrole) &&
            !readsTrue(window.minimized) && window.settableError == ax::kSuccess && window.settable) {
            found.insert(id);
        }
    };
    for (const auto& entry : desktop_.applications()) {
        const auto& info = entry.info;
        if (info.processIdentifier == desktop_.ownProcessIdentifier || info.isTerminated || info.isHidden ||
            info.activationPolicy != workspace::ActivationPolicy::regular) {
            continue;
        }
        // The element for a pid reaches the first application with it.
        const SimApplication& app = desktop_.application(info.processIdentifier);
        if (app.windowsError != ax::kSuccess || app.windowsReplacement) continue;
        for (const WindowID id : app.windows)
            consider(id);
        for (const auto& extra : app.windowsExtras)
            if (const auto* ref = std::get_if<WindowRef>(&extra)) consider(ref->window);
    }
    return found;
}

std::optional<WindowID> Soak::focusedWindow() {
    const auto pid = desktop_.frontmostProcessIdentifier;
    const auto& apps = desktop_.applications();
    if (!pid ||
        std::none_of(apps.begin(), apps.end(), [&](const auto& a) { return a.info.processIdentifier == *pid; })) {
        return std::nullopt;
    }
    const SimApplication& app = desktop_.application(*pid);
    if (!app.focusedWindowRead) return app.focusedWindow;
    const auto* ref = std::get_if<WindowRef>(&app.focusedWindowRead->value);
    if (app.focusedWindowRead->error != ax::kSuccess || !ref) return std::nullopt;
    return ref->window;
}

void Soak::checkPublication(const MonitorState& state) {
    ++totals_.publications;
    if (lastPublished_ && *lastPublished_ == state) problem("published a state equal to the last one");
    if (!state.isTrusted && (state.visibleWindowCount != 0 || !state.activeWindows.empty())) {
        problem("a state without trust lists windows");
    }
    if (state.visibleWindowCount < 0) problem("a negative window count was published");
    // Rows share the mark only when they share an id (a hash collision).
    std::set<std::string> current;
    for (const auto& row : state.activeWindows)
        if (row.isCurrent) current.insert(row.id);
    if (current.size() > 1) problem("rows of more than one window are marked current");
    for (const auto& row : state.activeWindows)
        if (row.openDurationSeconds < 0) problem("a row has a negative open duration");
    lastPublished_ = state;
}

bool Soak::step() {
    history_.emplace_back();
    if (history_.size() > 4) history_.pop_front();
    problems_.clear();
    churn();

    const std::set<WindowID> before = candidates();
    const std::optional<WindowID> focused = focusedWindow();
    const bool trusted = desktop_.trusted;
    const std::size_t minimizedBefore = desktop_.minimizedWindows().size();
    const std::int64_t publishedBefore = totals_.publications;
    const std::size_t accountingBefore = desktop_.accountingErrors().size();
    callsThisStep_ = 0;
    setCallsThisStep_ = 0;
    midScanFired_ = false;
    midScanCall_ = chance(5) ? static_cast<std::int64_t>(1 + below(40)) : -1;
    lastSnapshotIDs_.clear();

    bool rejected = false;
    const auto r = below(100);
    // A tick step moves the clock to the timer's next tick; a clock that
    // jumped since makes it a restart instead, as the loop would catch up
    // with every tick it missed.
    const double due = timerNext_ - desktop_.time;
    const bool tickStep = r >= 70 && r < 85;
    const bool tick = tickStep && due > 0 && due <= WindowMonitor::scanInterval;
    if (totals_.steps == 0 || r < 2 || (tickStep && !tick)) {
        if (totals_.steps != 0) {
            monitor_->stop();
            if (runLoop_.validTimers() != 0) problem("a timer is still valid after stop()");
            ++totals_.restarts;
            note("restart");
        }
        monitor_->start();
        timerNext_ = desktop_.time + WindowMonitor::scanInterval;
    } else if (r < 70) {
        monitor_->scanNow();
    } else if (tick) {
        const int ticks = runLoop_.advance(due + 0.001);
        totals_.timerTicks += ticks;
        timerNext_ += WindowMonitor::scanInterval;
        if (ticks != 1) problem("the timer ticked " + std::to_string(ticks) + " times, not once");
    } else if (r < 93) {
        const std::int64_t value =
            chance(85) ? static_cast<std::int64_t>(1 + below(10)) : pick(std::array<std::int64_t, 3>{0, 11, -1});
        note("setLimit(" + std::to_string(value) + ")");
        monitor_->setLimit(value);
        rejected = value < 1 || value > 10;
    } else {
        const std::optional<std::int64_t> value =
            chance(30) ? std::nullopt
                       : std::optional(chance(90) ? pick(WindowMonitor::supportedInactiveMinutes) : std::int64_t{2});
        note("setInactiveMinutes(" + (value ? std::to_string(*value) : std::string("none")) + ")");
        monitor_->setInactiveMinutes(value);
        rejected = value == 2;
    }
    ++totals_.steps;

    if (desktop_.liveElements() != 0) {
        problem(std::to_string(desktop_.liveElements()) + " element(s) still alive after the step");
    }
    if (desktop_.accountingErrors().size() != accountingBefore) {
        problem("element accounting error: " + desktop_.accountingErrors()[accountingBefore]);
    }
    if (rejected) {
        ++totals_.rejectedSetterCalls;
        if (callsThisStep_ != 0) problem("a rejected setting made platform calls");
        if (totals_.publications != publishedBefore) problem("a rejected setting published a state");
    }

    const auto& minimizedAll = desktop_.minimizedWindows();
    const std::int64_t minimized = static_cast<std::int64_t>(minimizedAll.size() - minimizedBefore);
    totals_.minimized += minimized;
    totals_.failedMinimizations += setCallsThisStep_ - minimized;
    for (std::size_t i = minimizedBefore; i < minimizedAll.size(); ++i) {
        const WindowID window = minimizedAll[i];
        if (!before.contains(window)) problem("window " + std::to_string(window) + " was not a candidate");
        if (window == focused) problem("the focused window " + std::to_string(window) + " was minimized");
    }

    // Every record distinct and every request answered: then exactly the
    // limit's worth or fewer stay, and each stays as a row.
    const std::set<std::string> distinct(lastSnapshotIDs_.begin(), lastSnapshotIDs_.end());
    const auto state = Access::lastState(*monitor_);
    if (trusted && !lastSnapshotIDs_.empty() && distinct.size() == lastSnapshotIDs_.size() && !midScanFired_ &&
        setCallsThisStep_ == minimized && state) {
        ++totals_.limitChecks;
        if (!state->isTrusted) problem("a trusted scan published a state without trust");
        if (state->visibleWindowCount > monitor_->limit) {
            problem(std::to_string(state->visibleWindowCount) + " windows left visible over the limit of " +
                    std::to_string(monitor_->limit));
        }
        if (static_cast<std::int64_t>(state->activeWindows.size()) != state->visibleWindowCount) {
            problem("the rows do not match the visible window count");
        }
    }
    return problems_.empty();
}

SoakResult Soak::run() {
    SoakResult result;
    while (totals_.scans < options_.scans) {
        if (!step()) {
            result.passed = false;
            std::string report =
                "seed " + std::to_string(options_.seed) + ", scan " + std::to_string(totals_.scans) + ":\n";
            for (const auto& text : problems_)
                report += "  " + text + "\n";
            report += "replay: quellan_soak --seed " + std::to_string(options_.seed) + " --scans " +
                      std::to_string(totals_.scans) + "\nthe last churn:\n";
            for (const auto& step : history_) {
                report += "  --\n";
                for (const auto& text : step)
                    report += "  " + text + "\n";
            }
            result.failure = std::move(report);
            break;
        }
    }
    monitor_->stop();
    totals_.elementsCreated = static_cast<std::int64_t>(desktop_.elementsCreated());
    result.totals = totals_;
    return result;
}

} // namespace

SoakResult runSoak(const SoakOptions& options) { return Soak(options).run(); }

} // namespace quellan::soak
