// Repeating timers on the main run loop.
#pragma once

#include <functional>
#include <memory>

namespace quellan::platform {

/// Run-loop modes a timer can be registered in. A backend without modes
/// (every tick fires whatever the user is doing) treats both alike.
enum class RunLoopMode { defaultMode, commonModes };

/// A scheduled timer. It holds its callback, and whatever the callback
/// captures, until it is invalidated.
class Timer {
public:
    virtual ~Timer() = default;
    /// Stops all further ticks and releases the callback. Idempotent.
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
    virtual double timeInterval() const = 0;
};

/// The main thread's run loop. Ticks run on the main thread, one piece of
/// work at a time: never inside another callback, menu action or tick.
class RunLoop {
public:
    virtual ~RunLoop() = default;
    /// Creates a timer and schedules it in the default mode.
    virtual std::shared_ptr<Timer> scheduledTimer(double interval, bool repeats, std::function<void()> callback) = 0;
    /// Registers the timer in one more mode.
    virtual void addTimer(const std::shared_ptr<Timer>& timer, RunLoopMode mode) = 0;
};

} // namespace quellan::platform
