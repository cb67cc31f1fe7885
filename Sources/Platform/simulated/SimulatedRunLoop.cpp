#include "Platform/simulated/SimulatedRunLoop.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace quellan::simulated {

class SimulatedRunLoop::ManualTimer final : public platform::Timer {
public:
    ManualTimer(double interval, bool repeats, std::function<void()> callback, clock::Instant firstFire)
        : interval_(interval), repeats_(repeats), callback_(std::move(callback)), nextFire_(firstFire) {}

    void invalidate() override {
        valid_ = false;
        // Released at once, unless it is running: then after it returns.
        if (!running_) callback_ = nullptr;
    }
    bool isValid() const override { return valid_; }
    double timeInterval() const override { return interval_; }

    clock::Instant nextFire() const { return nextFire_; }

    /// `now` is read after the callback, which may have taken clock time.
    void fire(const clock::Instant& now) {
        running_ = true;
        const std::function<void()> callback = callback_;
        callback();
        running_ = false;
        if (!repeats_) valid_ = false;
        if (!valid_) {
            callback_ = nullptr;
            return;
        }
        // A tick that overran its successors is not followed by a burst:
        // like a system timer, the missed instants are skipped.
        do {
            nextFire_ += interval_;
        } while (nextFire_ <= now);
    }

    std::set<platform::RunLoopMode> modes;

private:
    double interval_;
    bool repeats_;
    std::function<void()> callback_;
    clock::Instant nextFire_;
    bool valid_ = true;
    bool running_ = false;
};

SimulatedRunLoop::~SimulatedRunLoop() {
    for (auto& timer : timers_)
        timer->invalidate();
}

std::shared_ptr<platform::Timer> SimulatedRunLoop::scheduledTimer(double interval, bool repeats,
                                                                  std::function<void()> callback) {
    // As a real run loop does, a non-positive interval is taken as a tiny one.
    const double step = interval > 0 ? interval : 0.0001;
    auto timer = std::make_shared<ManualTimer>(step, repeats, std::move(callback), time_ + step);
    timer->modes.insert(platform::RunLoopMode::defaultMode);
    timers_.push_back(timer);
    return timer;
}

void SimulatedRunLoop::addTimer(const std::shared_ptr<platform::Timer>& timer, platform::RunLoopMode mode) {
    for (auto& own : timers_) {
        if (own == timer) own->modes.insert(mode);
    }
}

int SimulatedRunLoop::advance(double seconds) {
    if (ticking_) {
        std::fputs("SimulatedRunLoop::advance called from inside a tick; ticks never nest.\n", stderr);
        std::abort();
    }
    const clock::Instant end = time_ + seconds;
    int ticks = 0;
    for (;;) {
        std::erase_if(timers_, [](const auto& timer) { return !timer->isValid(); });
        // The earliest due timer; the first scheduled one wins a tie.
        std::shared_ptr<ManualTimer> next;
        for (const auto& timer : timers_) {
            if (timer->nextFire() <= end && (!next || timer->nextFire() < next->nextFire())) next = timer;
        }
        if (!next) break;
        time_ = std::max(time_, next->nextFire());
        ticking_ = true;
        next->fire(time_);
        ticking_ = false;
        ++ticks;
    }
    time_ = std::max(time_, end);
    ticks_ += ticks;
    return ticks;
}

std::size_t SimulatedRunLoop::validTimers() const {
    return static_cast<std::size_t>(
        std::count_if(timers_.begin(), timers_.end(), [](const auto& timer) { return timer->isValid(); }));
}

std::set<platform::RunLoopMode> SimulatedRunLoop::modesOf(const std::shared_ptr<platform::Timer>& timer) const {
    for (const auto& own : timers_) {
        if (own == timer) return own->modes;
    }
    return {};
}

} // namespace quellan::simulated
