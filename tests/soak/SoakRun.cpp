// The soak's engine. It never re-derives which windows the limit picks; it
// checks what must be true of any pick: only candidates, never the focused
// window, no more than the limit left when every request was answered,
// nothing held afterwards.
#include "soak/SoakRun.hpp"

#include "Platform/simulated/SimulatedRunLoop.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"
#include "Support.hpp"

#include <array>
#include <random>
#include <set>

namespace quellan::soak {
namespace {

using namespace simulated;
using Access = WindowMonitorTestAccess;

// Only zero is success, so a positive code is a failure too.
constexpr std::array<ax::Error, 4> kErrors{ax::kFailure, ax::kInvalidElement, ax::kCannotComplete, 7};
const std::array<std::string, 7> kTitles{
    "", std::string(3000, 'x'), "bad \xff\xfe cut \xe2\x82", std::string("nul\0in", 6), "INBOX", "inbox", "Doc"};
constexpr std::array<std::int32_t, 6> kPids{-7, 0, 100, 101, 102, 103};

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
    explicit Soak(std::uint64_t seed) : random_(seed) {
        desktop_.logCalls = false;
        desktop_.onCall = [this](const std::string& call) { onCall(call); };
        monitor_->onStateChange = [this](const MonitorState& state) { checkPublication(state); };
    }
    ~Soak() { monitor_->stop(); }
    std::string run(std::uint64_t seed, std::int64_t scans);

private:
    /// The real source, noting the ids each snapshot lists.
    struct Observer final : WindowSource {
        explicit Observer(std::vector<std::string>& ids) : ids(ids) {}
        WindowSnapshot snapshot() override {
            WindowSnapshot snapshot = inner.snapshot();
            for (const auto& record : snapshot.windows)
                ids.push_back(record.id);
            return snapshot;
        }
        std::vector<std::string>& ids;
        AccessibilityWindowSource inner;
    };

    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : random_() % n; }
    bool chance(std::uint64_t percent) { return below(100) < percent; }
    template <typename C> const auto& pick(const C& from) { return from[below(from.size())]; }
    Read oneOf(std::string good, std::string odd) {
        if (chance(50)) return {ax::kSuccess, good};
        return chance(50) ? Read{pick(kErrors), {}} : Read{ax::kSuccess, odd};
    }
    void problem(const std::string& text) { problems_ += "  " + text + "\n"; }

    std::vector<WindowID> liveWindows() {
        std::set<WindowID> live;
        for (const auto& app : desktop_.applications())
            for (const WindowID id : app.windows)
                if (desktop_.hasWindow(id)) live.insert(id);
        return {live.begin(), live.end()};
    }
    void churn();
    void spoilWindow(SimWindow& window);
    void spoilApplication(SimApplication& app);
    void onCall(const std::string& call);
    /// The windows the source may list: those a listed application's window
    /// list names that read as standard, unminimized and minimizable.
    std::set<WindowID> candidates();
    std::optional<WindowID> focusedWindow();
    void checkPublication(const MonitorState& state);
    /// Returns whether the step made a scan.
    bool step();

    std::mt19937_64 random_;
    SimulatedDesktop desktop_;
    SimulatedRunLoop runLoop_{desktop_.time};
    platform::ScopedBackends installed_{testing_support::withRunLoop(desktop_, runLoop_)};
    std::vector<std::string> ids_;
    std::shared_ptr<WindowMonitor> monitor_ =
        WindowMonitor::create(std::make_shared<Observer>(ids_), std::make_shared<platform::InMemoryUserDefaults>());

    // What the current step saw.
    std::set<WindowID> candidates_;
    std::optional<WindowID> focused_;
    std::int64_t calls_ = 0, setCalls_ = 0, midScanCall_ = -1, publications_ = 0, steps_ = 0;
    bool midScanFired_ = false;
    /// When the scan timer fires next.
    double timerNext_ = 0;
    std::optional<MonitorState> lastPublished_;
    std::string problems_;
};

void Soak::churn() {
    if (chance(desktop_.trusted ? 2 : 40)) desktop_.trusted = !desktop_.trusted;
    for (auto changes = below(6); changes > 0; --changes) {
        auto& apps = desktop_.applications();
        const auto live = liveWindows();
        const auto r = below(100);
        if (apps.empty() || r < 8) {
            if (!apps.empty() && chance(35)) {
                desktop_.removeApplication(pick(apps).info.processIdentifier);
                continue;
            }
            // Now and then the program itself, or a second one with a pid in use.
            auto& app = desktop_.addApplication(chance(5) ? desktop_.ownProcessIdentifier : pick(kPids),
                                                chance(10) ? std::nullopt : std::optional(pick(kTitles)));
            const auto kind = below(10);
            app.info.isHidden = kind == 0;
            app.info.isTerminated = kind == 1;
            if (kind == 2) app.info.activationPolicy = workspace::ActivationPolicy::accessory;
        } else if (live.empty() || (r < 30 && live.size() < 24)) {
            desktop_.addWindow(pick(apps).info.processIdentifier, pick(kTitles));
        } else if (r < 40) {
            desktop_.removeWindow(pick(live));
        } else if (r < 55) {
            // Minimized or restored by someone else; restored mostly, as the
            // soak itself minimizes many.
            std::vector<WindowID> minimized;
            std::copy_if(live.begin(), live.end(), std::back_inserter(minimized),
                         [&](WindowID id) { return readsTrue(desktop_.window(id).minimized); });
            auto& window = desktop_.window(!minimized.empty() && chance(75) ? pick(minimized) : pick(live));
            window.minimized = Read{ax::kSuccess, !readsTrue(window.minimized)};
        } else if (r < 70) {
            desktop_.focus(pick(live));
        } else if (r < 75) {
            desktop_.frontmostProcessIdentifier =
                chance(50) ? std::nullopt : std::optional(pick(apps).info.processIdentifier);
        } else if (r < 90) {
            spoilWindow(desktop_.window(pick(live)));
        } else {
            spoilApplication(apps[below(apps.size())]);
        }
    }
    // Time moves on mostly through the timer's ticks: between them a little,
    // never as far as the next tick. Now and then the clock jumps either way.
    const auto r = below(100);
    const double gap = timerNext_ - desktop_.time;
    if (r < 97)
        desktop_.advance(gap > 0 ? std::min(0.05 * static_cast<double>(below(4)), gap / 2) : 0.05);
    else
        desktop_.advance(r < 99 ? 60.0 * static_cast<double>(1 + below(90)) : -30.0);
}

void Soak::spoilWindow(SimWindow& window) {
    switch (below(7)) {
    case 0:
        window.title = chance(50) ? Read{ax::kSuccess, pick(kTitles)} : Read{pick(kErrors), {}};
        return;
    case 1:
        window.role = oneOf(std::string(ax::kWindowRole), "AXSheet");
        return;
    case 2:
        window.subrole = oneOf(std::string(ax::kStandardWindowSubrole), "AXDialog");
        return;
    case 3:
        // A failed or odd minimized read means not minimized.
        window.minimized = chance(50)   ? Read{ax::kSuccess, false}
                           : chance(50) ? Read{pick(kErrors), {}}
                                        : Read{ax::kSuccess, 1.0};
        return;
    case 4:
        window.settableError = chance(60) ? ax::kSuccess : pick(kErrors);
        window.settable = chance(60);
        return;
    case 5:
        window.minimizeResult = chance(50) ? ax::kSuccess : pick(kErrors);
        return;
    default: // another window of the same application with the same hash
        const auto& siblings = desktop_.application(window.processIdentifier).windows;
        if (!siblings.empty()) window.hash = desktop_.window(pick(siblings)).hash;
    }
}

void Soak::spoilApplication(SimApplication& app) {
    // One of its windows, or one that is gone.
    const auto window = [&] { return WindowRef{app.windows.empty() || chance(30) ? 999'999 : pick(app.windows)}; };
    switch (below(4)) {
    case 0:
        app.windowsError = chance(50) ? ax::kSuccess : pick(kErrors);
        return;
    case 1: // null, or a text where the list belongs
        if (chance(50))
            app.windowsReplacement.reset();
        else
            app.windowsReplacement = chance(50) ? Scripted{} : Scripted{std::string("AXWindow")};
        return;
    case 2: // other values, an entry twice, or a window gone
        app.windowsExtras.clear();
        if (chance(60)) app.windowsExtras = {Scripted{true}, window(), Scripted{2.0}};
        return;
    default:
        if (chance(40))
            app.focusedWindowRead.reset();
        else
            app.focusedWindowRead = chance(50) ? Read{pick(kErrors), {}} : Read{ax::kSuccess, window()};
    }
}

void Soak::onCall(const std::string& call) {
    if (call.starts_with("set win:")) {
        ++setCalls_;
        const WindowID window = std::stoll(call.substr(8));
        if (!candidates_.contains(window)) problem("window " + std::to_string(window) + " was not a candidate");
        if (window == focused_ && !midScanFired_)
            problem("the focused window " + std::to_string(window) + " was minimized");
    }
    if (++calls_ != midScanCall_) return;
    // The desktop changes while the snapshot is being taken.
    midScanFired_ = true;
    const auto live = liveWindows();
    if (!live.empty() && chance(70))
        desktop_.removeWindow(pick(live));
    else if (!desktop_.applications().empty())
        desktop_.removeApplication(pick(desktop_.applications()).info.processIdentifier);
}

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
    if (!pid || std::none_of(apps.begin(), apps.end(), [&](const auto& a) { return a.info.processIdentifier == *pid; }))
        return std::nullopt;
    const SimApplication& app = desktop_.application(*pid);
    if (!app.focusedWindowRead) return app.focusedWindow;
    const auto* ref = std::get_if<WindowRef>(&app.focusedWindowRead->value);
    if (app.focusedWindowRead->error != ax::kSuccess || !ref) return std::nullopt;
    return ref->window;
}

void Soak::checkPublication(const MonitorState& state) {
    ++publications_;
    if (lastPublished_ == state) problem("published a state equal to the last one");
    if (!state.isTrusted && (state.visibleWindowCount != 0 || !state.activeWindows.empty()))
        problem("a state without trust lists windows");
    // Rows share the mark only when they share an id (a hash collision).
    std::set<std::string> current;
    for (const auto& row : state.activeWindows)
        if (row.isCurrent) current.insert(row.id);
    if (current.size() > 1) problem("rows of more than one window are marked current");
    lastPublished_ = state;
}

bool Soak::step() {
    churn();
    candidates_ = candidates();
    focused_ = focusedWindow();
    const std::size_t minimizedBefore = desktop_.minimizedWindows().size();
    const std::size_t accountingBefore = desktop_.accountingErrors().size();
    const std::int64_t publishedBefore = publications_;
    calls_ = setCalls_ = 0;
    midScanCall_ = chance(5) ? static_cast<std::int64_t>(1 + below(40)) : -1;
    midScanFired_ = false;
    ids_.clear();

    bool rejected = false;
    const auto r = below(100);
    // A tick step moves the clock to the timer's next tick; after a jump of
    // the clock it restarts instead, as the loop would catch up every missed tick.
    const double due = timerNext_ - desktop_.time;
    const bool tickStep = r >= 70 && r < 85;
    const bool tick = tickStep && due > 0 && due <= WindowMonitor::scanInterval;
    if (steps_++ == 0 || r < 2 || (tickStep && !tick)) {
        monitor_->stop();
        if (runLoop_.validTimers() != 0) problem("a timer is still valid after stop()");
        monitor_->start();
        timerNext_ = desktop_.time + WindowMonitor::scanInterval;
    } else if (r < 70) {
        monitor_->scanNow();
    } else if (tick) {
        if (runLoop_.advance(due + 0.001) != 1) problem("the timer did not tick once");
        timerNext_ += WindowMonitor::scanInterval;
    } else if (r < 93) {
        const std::int64_t value = chance(85) ? static_cast<std::int64_t>(1 + below(10)) : pick(std::array{0, 11, -1});
        monitor_->setLimit(value);
        rejected = value < 1 || value > 10;
    } else {
        const auto value =
            chance(30) ? std::nullopt : std::optional(chance(90) ? pick(WindowMonitor::supportedInactiveMinutes) : 2);
        monitor_->setInactiveMinutes(value);
        rejected = value == 2;
    }

    if (desktop_.liveElements() != 0) problem("elements still alive after the step");
    if (desktop_.accountingErrors().size() != accountingBefore)
        problem("element accounting: " + desktop_.accountingErrors()[accountingBefore]);
    if (rejected && (calls_ != 0 || publications_ != publishedBefore))
        problem("a rejected setting made platform calls or published");
    if (!rejected && !desktop_.trusted &&
        !(Access::lastTouched(*monitor_).empty() && Access::openedAt(*monitor_).empty()))
        problem("history kept without trust");

    // Every record distinct and every request answered: then no more than
    // the limit stay, each as a row.
    const std::set<std::string> distinct(ids_.begin(), ids_.end());
    const auto state = Access::lastState(*monitor_);
    if (desktop_.trusted && !ids_.empty() && distinct.size() == ids_.size() && !midScanFired_ && state &&
        setCalls_ == static_cast<std::int64_t>(desktop_.minimizedWindows().size() - minimizedBefore)) {
        if (!state->isTrusted || state->visibleWindowCount > monitor_->limit)
            problem(std::to_string(state->visibleWindowCount) + " windows left visible, limit " +
                    std::to_string(monitor_->limit));
        if (static_cast<std::int64_t>(state->activeWindows.size()) != state->visibleWindowCount)
            problem("the rows do not match the visible window count");
    }
    return !rejected;
}

std::string Soak::run(std::uint64_t seed, std::int64_t scans) {
    for (std::int64_t made = 0; made < scans;) {
        made += step() ? 1 : 0;
        if (!problems_.empty())
            return "seed " + std::to_string(seed) + ", step " + std::to_string(steps_) + ":\n" + problems_;
    }
    return "";
}

} // namespace

std::string runSoak(std::uint64_t seed, std::int64_t scans) { return Soak(seed).run(seed, scans); }

} // namespace quellan::soak
