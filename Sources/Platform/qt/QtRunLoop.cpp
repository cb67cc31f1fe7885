// Timers over QTimer. Qt has no run-loop modes, so a timer ticks in every
// mode, while a tray menu is open too, which is what the monitor wants.
#include "Platform/MainThread.hpp"
#include "Platform/qt/QtDesktop.hpp"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quellan::qt {
namespace {

int millisecondsFor(double seconds) {
    if (!(seconds * 1000.0 >= 1.0)) return 1; // NaN, zero and negative too
    if (seconds * 1000.0 >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(std::lround(seconds * 1000.0));
}

// What a tick needs; shared with the tick in progress, so that the timer
// may be invalidated or even destroyed from inside its own callback.
struct TickState {
    std::function<void()> callback;
    bool repeats = false;
    bool valid = true;
    bool ticking = false;
};

class QtTimer final : public platform::Timer {
public:
    QtTimer(int milliseconds, bool repeats, std::function<void()> callback)
        : state_(std::make_shared<TickState>()), milliseconds_(milliseconds),
          // Owned by the application too, so that a timer kept past the
          // application's end finds its QTimer gone rather than dangling.
          timer_(new QTimer(QCoreApplication::instance())) {
        state_->callback = std::move(callback);
        state_->repeats = repeats;
        timer_->setTimerType(Qt::PreciseTimer);
        timer_->setSingleShot(!repeats);
        timer_->setInterval(milliseconds);
        QPointer<QTimer> timer = timer_.data();
        QObject::connect(timer_, &QTimer::timeout, timer_, [state = std::weak_ptr<TickState>(state_), timer] {
            if (const auto strong = state.lock()) tick(strong, timer);
        });
        timer_->start();
    }

    ~QtTimer() override {
        invalidate();
        // A timer dropped by its own callback is still delivering timeout().
        if (state_->ticking && timer_) {
            timer_->deleteLater();
        } else {
            delete timer_.data();
        }
    }

    void invalidate() override {
        if (!state_->valid) return;
        state_->valid = false;
        if (timer_) timer_->stop();
        if (!state_->ticking) state_->callback = nullptr;
    }

    bool isValid() const override { return state_->valid; }
    double timeInterval() const override { return milliseconds_ / 1000.0; }

private:
    static void tick(const std::shared_ptr<TickState>& state, const QPointer<QTimer>& timer) {
        // A nested event loop inside the callback must not start another tick.
        if (state->ticking || !state->valid) return;
        state->ticking = true;
        struct Finish {
            const std::shared_ptr<TickState>& state;
            const QPointer<QTimer>& timer;
            ~Finish() {
                state->ticking = false;
                if (!state->repeats) state->valid = false;
                if (!state->valid) {
                    // Released now rather than at invalidate(): it was running.
                    state->callback = nullptr;
                    if (timer) timer->stop();
                }
            }
        } finish{state, timer};
        state->callback();
    }

    std::shared_ptr<TickState> state_;
    int milliseconds_;
    QPointer<QTimer> timer_;
};

class QtRunLoop final : public platform::RunLoop {
public:
    std::shared_ptr<platform::Timer> scheduledTimer(double interval, bool repeats,
                                                    std::function<void()> callback) override {
        platform::requireMainThread("RunLoop::scheduledTimer");
        if (QCoreApplication::instance() == nullptr) {
            std::fprintf(stderr, "quellan: programming error: a timer was scheduled before the Qt framework "
                                 "was made; make the framework first\n");
            std::abort();
        }
        return std::make_shared<QtTimer>(millisecondsFor(interval), repeats, std::move(callback));
    }

    void addTimer(const std::shared_ptr<platform::Timer>& timer, platform::RunLoopMode) override {
        // Already ticking in every mode.
        platform::requireMainThread("RunLoop::addTimer");
        (void)timer;
    }
};

} // namespace

std::unique_ptr<platform::RunLoop> makeRunLoop() { return std::make_unique<QtRunLoop>(); }

std::shared_ptr<void> watchReadable(int descriptor, std::function<std::chrono::milliseconds()> callback) {
    if (descriptor < 0 || QCoreApplication::instance() == nullptr) return nullptr;
    auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, QCoreApplication::instance());
    // The rest ends on a timer of the notifier's own, which dies with it.
    auto* rest = new QTimer(notifier);
    rest->setSingleShot(true);
    rest->setTimerType(Qt::PreciseTimer);
    QObject::connect(rest, &QTimer::timeout, notifier, [notifier] { notifier->setEnabled(true); });
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, rest, callback = std::move(callback)] {
        const std::chrono::milliseconds pause = callback();
        if (pause.count() <= 0) return;
        notifier->setEnabled(false);
        rest->start(pause);
    });
    // A notifier kept past the application finds it gone and deletes nothing.
    return std::shared_ptr<void>(nullptr,
                                 [guarded = QPointer<QSocketNotifier>(notifier)](void*) { delete guarded.data(); });
}

} // namespace quellan::qt
