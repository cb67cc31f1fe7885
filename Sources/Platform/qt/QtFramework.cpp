// The application's life over QApplication: making the framework, running
// and ending the event loop, and a word when Qt ends the process itself.
#include "Platform/MainThread.hpp"
#include "Platform/qt/FrameworkState.hpp"
#include "Platform/qt/QtInternal.hpp"

#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace quellan::qt {

namespace {

// Qt ends the process with exit() when the display goes away. A framework
// still alive at exit means that, or something like it, happened.
bool frameworkAlive = false;

void sayIfEndedWhileRunning() {
    if (!frameworkAlive) return;
    std::fprintf(stderr, "quellan: stopped while still running (was the connection to the display lost?); "
                         "start Quellan again to go on limiting windows\n");
}

} // namespace

void QtApplication::setDelegate(std::weak_ptr<appkit::ApplicationDelegate> delegate) {
    delegate_ = std::move(delegate);
}

// Without a window Quellan never has a taskbar entry; it cannot be a
// regular application that has one.
bool QtApplication::setActivationPolicy(workspace::ActivationPolicy policy) {
    return policy != workspace::ActivationPolicy::regular;
}

void QtApplication::run() {
    platform::requireMainThread("Application::run");
    if (terminating_) return;
    if (!launched_) QTimer::singleShot(0, QCoreApplication::instance(), [this] { requestLaunch(); });
    QApplication::exec();
}

void QtApplication::terminate() {
    platform::requireMainThread("Application::terminate");
    if (terminating_) return;
    terminating_ = true;
    if (const auto delegate = delegate_.lock()) delegate->applicationWillTerminate();
    // Also leaves any nested loop, such as an open menu's.
    QCoreApplication::exit(0);
}

void QtApplication::launch() {
    if (launched_ || terminating_) return;
    launched_ = true;
    if (const auto delegate = delegate_.lock()) delegate->applicationDidFinishLaunching();
}

QtFramework::QtFramework(std::unique_ptr<State> state) : state_(std::move(state)) {}

QtFramework::~QtFramework() {
    frameworkAlive = false;
    state_->restoreSignalHandlers();
    state_->detachItems();
    // Menus replaced last are still waiting for their deferred deletion.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    state_->application.reset();
}

appkit::Application& QtFramework::sharedApplication() { return state_->app; }
appkit::StatusBar& QtFramework::systemStatusBar() { return state_->bar; }

std::optional<appkit::Image> QtFramework::imageWithSystemSymbolName(std::string_view name,
                                                                    std::string_view accessibilityDescription) {
    if (!internal::symbolNamed(name)) return std::nullopt;
    return appkit::Image{std::string(name), std::string(accessibilityDescription)};
}

bool QtFramework::waitingForSystemTray() const { return state_->waiting; }

void QtFramework::setAnotherStartHandler(std::function<void()> handler) { state_->anotherStart = std::move(handler); }

std::vector<std::uint32_t> QtFramework::ownWindowIds() const {
    std::vector<std::uint32_t> ids;
    for (const QWindow* window : QGuiApplication::allWindows()) {
        if (window->handle() != nullptr) ids.push_back(static_cast<std::uint32_t>(window->winId()));
    }
    return ids;
}

void QtFramework::setSystemTrayObserver(std::function<void(bool waiting)> observer) {
    state_->observer = std::move(observer);
}

std::unique_ptr<QtFramework> makeFramework(int& argc, char** argv, const FrameworkOptions& options) {
    platform::requireMainThread("makeFramework");
    if (QCoreApplication::instance() != nullptr) {
        std::fprintf(stderr, "quellan: programming error: a second Qt framework was made while one exists\n");
        std::abort();
    }
    if (!displayReachable()) return nullptr;
    auto state = std::make_unique<QtFramework::State>();
    state->options = options;
    QApplication::setApplicationName(QStringLiteral("quellan"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quellan"));
    QApplication::setDesktopFileName(QStringLiteral("quellan"));
    state->application = std::make_unique<QApplication>(argc, argv);
    // Quellan has no windows; closing a dialog of Qt's must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    state->trayPoll = new QTimer(state->application.get());
    state->trayPoll->setInterval(
        static_cast<int>(std::max<std::chrono::milliseconds::rep>(1, options.trayPollInterval.count())));
    QObject::connect(state->trayPoll, &QTimer::timeout, state->trayPoll, [raw = state.get()] { raw->pollTray(); });
    state->app.requestLaunch = [raw = state.get()] {
        if (!raw->waiting && systemTrayPresent()) return raw->app.launch();
        raw->waitForTray();
    };
    if (options.handleTerminationSignals) state->installSignalHandlers();
    static const bool watchingExit = std::atexit(sayIfEndedWhileRunning) == 0;
    frameworkAlive = watchingExit;
    return std::unique_ptr<QtFramework>(new QtFramework(std::move(state)));
}

} // namespace quellan::qt
