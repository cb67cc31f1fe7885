// A run loop driven by hand: tests advance a manual clock and the timers
// that fall due meanwhile tick, one at a time, in order.
#pragma once

#include "Platform/Clock.hpp"
#include "Platform/RunLoop.hpp"

#include <functional>
#include <memory>
#include <set>
#include <vector>

namespace quellan::simulated {

class SimulatedRunLoop final : public platform::RunLoop {
public:
    /// `time` is the manual clock the loop moves forward (a simulated
    /// desktop's `time`, for instance); it must outlive the loop.
    explicit SimulatedRunLoop(clock::Instant& time) : time_(time) {}
    ~SimulatedRunLoop() override;

    std::shared_ptr<platform::Timer> scheduledTimer(double interval, bool repeats,
                                                    std::function<void()> callback) override;
    void addTimer(const std::shared_ptr<platform::Timer>& timer, platform::RunLoopMode mode) override;

    /// Moves the clock forward by `seconds`, ticking every timer that falls
    /// due on the way at its own instant. Returns the number of ticks.
    /// Calling it from inside a tick is a programming error: ticks never nest.
    int advance(double seconds);

    /// Timers scheduled and not yet invalidated.
    std::size_t validTimers() const;
    int ticks() const { return ticks_; }
    /// The modes the timer was registered in.
    std::set<platform::RunLoopMode> modesOf(const std::shared_ptr<platform::Timer>& timer) const;

private:
    class ManualTimer;

    clock::Instant& time_;
    std::vector<std::shared_ptr<ManualTimer>> timers_;
    int ticks_ = 0;
    bool ticking_ = false;
};

} // namespace quellan::simulated
