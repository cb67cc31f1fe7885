// The Unix signals the framework hears, through the event loop.
#include "Platform/qt/FrameworkState.hpp"

#include <QSocketNotifier>

#include <csignal>

namespace quellan::qt {

namespace {

// Ends the program cleanly on the signals a session or a terminal sends,
// and hears of a second start (SIGUSR1).
constexpr int kHandledSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1};

} // namespace

void QtFramework::State::installSignalHandlers() {
    signalPipe = platform::SignalPipe::install(kHandledSignals);
    if (!signalPipe) return;
    signalNotifier = new QSocketNotifier(signalPipe->descriptor(), QSocketNotifier::Read, application.get());
    QObject::connect(signalNotifier, &QSocketNotifier::activated, signalNotifier, [this] {
        bool terminate = false, started = false;
        for (const int number : signalPipe->drain())
            (number == SIGUSR1 ? started : terminate) = true;
        if (started && anotherStart) anotherStart();
        if (terminate) app.terminate();
    });
}

void QtFramework::State::restoreSignalHandlers() {
    if (!signalPipe) return;
    signalPipe->restoreHandlers();
    delete signalNotifier;
    signalNotifier = nullptr;
    signalPipe.reset();
}

} // namespace quellan::qt
