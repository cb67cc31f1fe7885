// Timers over NSTimer on the main run loop. A timer starts in
// NSDefaultRunLoopMode; adding it to NSRunLoopCommonModes keeps it ticking
// while a menu is open, which tracks in NSEventTrackingRunLoopMode.
#include "Platform/MainThread.hpp"
#include "Platform/macos/MacDesktop.hpp"
#include "Platform/macos/MacInternal.hpp"

#include <cmath>

namespace quellan::mac {
namespace {

// What a tick needs; shared with the tick in progress, so that the timer
// may be invalidated or even destroyed from inside its own callback.
struct TickState {
    std::function<void()> callback;
    bool repeats = false;
    bool valid = true;
    bool ticking = false;
};

// NSTimer takes anything not above zero as 0.1 ms; NaN and infinity are
// given the same and a ten-year wait, so that the interval reported is
// the one in force.
double sanitizedInterval(double seconds) {
    constexpr double kShortest = 0.0001;
    constexpr double kLongest = 10.0 * 365 * 24 * 3600;
    if (std::isnan(seconds) || seconds < kShortest) return kShortest;
    return seconds > kLongest ? kLongest : seconds;
}

} // namespace
} // namespace quellan::mac

// The NSTimer's target: it retains this object until it is invalidated.
@interface QuellanTimerTarget : NSObject {
@public
    std::shared_ptr<quellan::mac::TickState> state;
}
- (void)tick:(NSTimer*)timer;
@end

@implementation QuellanTimerTarget
- (void)tick:(NSTimer*)timer {
    // Held here: invalidating from the callback releases this target.
    const std::shared_ptr<quellan::mac::TickState> held = state;
    if (!held || held->ticking || !held->valid) return;
    held->ticking = true;
    struct Finish {
        quellan::mac::TickState& state;
        NSTimer* __unsafe_unretained timer;
        ~Finish() {
            state.ticking = false;
            if (!state.repeats) state.valid = false;
            if (!state.valid) {
                // Released now rather than at invalidate(): it was running.
                state.callback = nullptr;
                [timer invalidate];
            }
        }
    } finish{*held, timer};
    if (held->callback) held->callback();
}
@end

namespace quellan::mac {
namespace {

class MacTimer final : public platform::Timer {
public:
    MacTimer(double interval, bool repeats, std::function<void()> callback)
        : state_(std::make_shared<TickState>()), interval_(sanitizedInterval(interval)) {
        state_->callback = std::move(callback);
        state_->repeats = repeats;
        QuellanTimerTarget* target = [[QuellanTimerTarget alloc] init];
        target->state = state_;
        timer_ = [NSTimer timerWithTimeInterval:interval_
                                         target:target
                                       selector:@selector(tick:)
                                       userInfo:nil
                                        repeats:repeats ? YES : NO];
        [[NSRunLoop mainRunLoop] addTimer:timer_ forMode:NSDefaultRunLoopMode];
    }

    ~MacTimer() override { invalidate(); }
    MacTimer(const MacTimer&) = delete;
    MacTimer& operator=(const MacTimer&) = delete;

    void invalidate() override {
        if (!state_->valid) return;
        state_->valid = false;
        [timer_ invalidate];
        if (!state_->ticking) state_->callback = nullptr;
    }

    bool isValid() const override { return state_->valid; }
    double timeInterval() const override { return interval_; }

    void addToMode(NSString* mode) {
        if (state_->valid) [[NSRunLoop mainRunLoop] addTimer:timer_ forMode:mode];
    }

private:
    std::shared_ptr<TickState> state_;
    double interval_;
    NSTimer* timer_;
};

class MacRunLoop final : public platform::RunLoop {
public:
    // App Nap would stretch the timers of an app that draws nothing, 0.35 s
    // to seconds; this activity keeps their period for the run loop's life
    // and still lets the machine sleep when idle.
    MacRunLoop() {
        @autoreleasepool {
            activity_ = [[NSProcessInfo processInfo]
                beginActivityWithOptions:NSActivityUserInitiatedAllowingIdleSystemSleep
                                  reason:@"Checks the open windows against the limit every 0.35 seconds"];
        }
    }
    ~MacRunLoop() override {
        @autoreleasepool {
            [[NSProcessInfo processInfo] endActivity:activity_];
        }
    }
    MacRunLoop(const MacRunLoop&) = delete;
    MacRunLoop& operator=(const MacRunLoop&) = delete;

    std::shared_ptr<platform::Timer> scheduledTimer(double interval, bool repeats,
                                                    std::function<void()> callback) override {
        platform::requireMainThread("RunLoop::scheduledTimer");
        @autoreleasepool {
            return std::make_shared<MacTimer>(interval, repeats, std::move(callback));
        }
    }

    void addTimer(const std::shared_ptr<platform::Timer>& timer, platform::RunLoopMode mode) override {
        platform::requireMainThread("RunLoop::addTimer");
        // A timer of another run loop cannot be registered here.
        auto* ours = dynamic_cast<MacTimer*>(timer.get());
        if (ours == nullptr) return;
        ours->addToMode(mode == platform::RunLoopMode::commonModes ? NSRunLoopCommonModes : NSDefaultRunLoopMode);
    }

private:
    id<NSObject> activity_;
};

} // namespace

std::unique_ptr<platform::RunLoop> makeRunLoop() { return std::make_unique<MacRunLoop>(); }

} // namespace quellan::mac
