// The monitor's life: settings loaded at creation, start with the access
// prompt and the scan timer, stop, and the two setting changes.
#include "Quellan/WindowMonitor.hpp"

#include "Platform/Clock.hpp"
#include "Platform/MainThread.hpp"
#include "Platform/Platform.hpp"

#include <algorithm>
#include <utility>

namespace quellan {
namespace {

bool isSupportedLimit(std::int64_t limit) { return limit >= 1 && limit <= 10; }

bool isSupportedInactivePeriod(std::int64_t minutes) {
    const auto& supported = WindowMonitor::supportedInactiveMinutes;
    return std::find(supported.begin(), supported.end(), minutes) != supported.end();
}

} // namespace

std::shared_ptr<WindowMonitor> WindowMonitor::create(std::shared_ptr<WindowSource> source,
                                                     std::shared_ptr<platform::UserDefaults> defaults) {
    return std::make_shared<WindowMonitor>(Passkey{}, std::move(source), std::move(defaults));
}

WindowMonitor::WindowMonitor(Passkey, std::shared_ptr<WindowSource> source,
                             std::shared_ptr<platform::UserDefaults> defaults)
    : source_(std::move(source)), defaults_(std::move(defaults)) {
    // Invalid stored values fall back here and stay stored until a setter
    // overwrites them.
    const std::int64_t storedLimit = defaults_->integerForKey(windowLimitKey);
    limit = isSupportedLimit(storedLimit) ? storedLimit : 3;
    const std::int64_t storedMinutes = defaults_->integerForKey(inactiveMinutesKey);
    if (defaults_->boolForKey(inactiveMinimizeEnabledKey) && isSupportedInactivePeriod(storedMinutes)) {
        inactiveMinutes = storedMinutes;
    }
}

std::vector<std::string> WindowMonitor::unusableStoredSettings(const platform::UserDefaults& defaults) {
    std::vector<std::string> problems;
    const std::int64_t storedLimit = defaults.integerForKey(windowLimitKey);
    if (defaults.hasValueForKey(windowLimitKey) && !isSupportedLimit(storedLimit)) {
        problems.push_back("The saved window limit " + std::to_string(storedLimit) +
                           " is not between 1 and 10, so the limit is 3 until you choose one in the menu.");
    }
    const std::int64_t storedMinutes = defaults.integerForKey(inactiveMinutesKey);
    if (defaults.boolForKey(inactiveMinimizeEnabledKey) && !isSupportedInactivePeriod(storedMinutes)) {
        problems.push_back("The saved inactivity period of " + std::to_string(storedMinutes) +
                           " minutes is not one Quellan offers (1, 5, 10, 15, 30 or 60), so inactive windows stay "
                           "until you choose a period in the menu.");
    }
    return problems;
}

void WindowMonitor::start() {
    platform::requireMainThread("WindowMonitor::start");
    if (!ax::isProcessTrusted()) {
        // The answer comes later, through the scans that follow.
        (void)ax::isProcessTrustedWithOptions(ax::TrustCheckOptions{.prompt = true});
    }
    // Held strongly until stop(), as the timer holds its target.
    observed_ = source_->observeChanges([self = shared_from_this()] { self->desktopChanged(); });
    cadence_ = Cadence::ticking;
    schedule(scanInterval, true);
    scanNow();
}

void WindowMonitor::stop() {
    platform::requireMainThread("WindowMonitor::stop");
    cadence_ = Cadence::stopped;
    cancelTimer();
    if (std::exchange(observed_, false)) source_->observeChanges(nullptr);
}

void WindowMonitor::scanNow() {
    platform::requireMainThread("WindowMonitor::scanNow");
    changeSeen_ = false;
    scan();
    planNextScan();
}

void WindowMonitor::setDurationsShown(bool shown) {
    platform::requireMainThread("WindowMonitor::setDurationsShown");
    durationsShown_ = shown;
    // The durations published before the rest are as old as the rest.
    if (shown && (cadence_ == Cadence::resting || cadence_ == Cadence::waking)) scanNow();
}

void WindowMonitor::cancelTimer() {
    // Moved out first: invalidating drops the timer's hold on this monitor.
    if (const auto timer = std::exchange(timer_, nullptr)) timer->invalidate();
}

void WindowMonitor::schedule(double interval, bool repeats) {
    cancelTimer();
    auto& runLoop = platform::mainRunLoop();
    timer_ = runLoop.scheduledTimer(interval, repeats, [self = shared_from_this()] { self->scanNow(); });
    if (timer_) runLoop.addTimer(timer_, platform::RunLoopMode::commonModes);
}

void WindowMonitor::planNextScan() {
    if (cadence_ == Cadence::stopped) return;
    // Asked first: settling may bring news of a change.
    const bool mayRest = observed_ && !durationsShown_ && !minimizedInLastScan_ && source_->settled() && !changeSeen_;
    if (!mayRest) {
        if (cadence_ != Cadence::ticking) schedule(scanInterval, true);
        cadence_ = Cadence::ticking;
        return;
    }
    cadence_ = Cadence::resting;
    if (nextInactiveAt_) {
        schedule(std::clamp(*nextInactiveAt_ - clock::now(), scanInterval, longestRestBeforeInactivity), false);
    } else {
        cancelTimer();
    }
}

void WindowMonitor::desktopChanged() {
    changeSeen_ = true;
    if (cadence_ != Cadence::resting) return;
    // At once, but never sooner after the last scan than a tick would be.
    // The woken scan counts as one from now, so that scans which read no
    // time (without access) keep that pace too.
    cadence_ = Cadence::waking;
    const double now = clock::now();
    const double wait = std::clamp(lastScanAt_ + scanInterval - now, 0.0, scanInterval);
    lastScanAt_ = now + wait;
    schedule(wait, false);
}

void WindowMonitor::setLimit(std::int64_t newLimit) {
    platform::requireMainThread("WindowMonitor::setLimit");
    if (!isSupportedLimit(newLimit)) return;
    limit = newLimit;
    defaults_->setInteger(newLimit, windowLimitKey);
    scanNow();
}

void WindowMonitor::setInactiveMinutes(std::optional<std::int64_t> minutes) {
    platform::requireMainThread("WindowMonitor::setInactiveMinutes");
    if (!minutes) {
        // The last period stays stored; switching on again writes a new one.
        inactiveMinutes.reset();
        defaults_->setBool(false, inactiveMinimizeEnabledKey);
    } else {
        if (!isSupportedInactivePeriod(*minutes)) return;
        inactiveMinutes = *minutes;
        defaults_->setBool(true, inactiveMinimizeEnabledKey);
        defaults_->setInteger(*minutes, inactiveMinutesKey);
    }
    scanNow();
}

} // namespace quellan
