// The Qt framework's state and what its files share: for the framework's
// own files only.
#pragma once

#include "Platform/SignalPipe.hpp"
#include "Platform/qt/QtDesktop.hpp"

#include <QApplication>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace quellan::qt {

class QtStatusItem;

/// The application: Qt's event loop, and the delegate told of launching once the icon can be shown.
class QtApplication final : public appkit::Application {
public:
    void setDelegate(std::weak_ptr<appkit::ApplicationDelegate> delegate) override;
    bool setActivationPolicy(workspace::ActivationPolicy policy) override;
    void run() override;
    void terminate() override;

    /// Called once the event loop runs (the framework always sets it), to
    /// call `launch` now or later: the program must not act on windows
    /// before its icon can be shown.
    std::function<void()> requestLaunch;

    /// Tells the delegate that launching has finished, once.
    void launch();

private:
    std::weak_ptr<appkit::ApplicationDelegate> delegate_;
    bool launched_ = false;
    bool terminating_ = false;
};

/// The status bar: makes status items and places them in the tray.
class QtStatusBar final : public appkit::StatusBar {
public:
    explicit QtStatusBar(QtFramework::State& state) : state_(state) {}
    std::shared_ptr<appkit::StatusItem> statusItemWithLength(double length) override;

private:
    QtFramework::State& state_;
};

struct QtFramework::State {
    FrameworkOptions options;
    std::unique_ptr<QApplication> application;
    QtApplication app;
    QtStatusBar bar{*this};
    std::vector<QtStatusItem*> items;
    QTimer* trayPoll = nullptr;
    bool waiting = false;
    bool saidWaiting = false;
    std::function<void(bool)> observer;
    std::vector<QString> notices;
    std::function<void()> anotherStart;
    std::unique_ptr<platform::SignalPipe> signalPipe;
    QSocketNotifier* signalNotifier = nullptr;
    /// Qt's own selection on the root, while its property changes go unheard.
    std::optional<std::uint32_t> rootEventsKept;

    // The status items (QtStatusItem.cpp).
    void place(QtStatusItem& item);
    void showItems();
    void detachItems();
    /// Sends `text` to the desktop's notification service without waiting;
    /// `done` hears whether it took it (QtSession.cpp).
    void notifyDesktopLater(const QString& text, std::function<void(bool)> done);
    // The wait for a tray (TrayDiscovery.cpp).
    void waitForTray();
    void pollTray();
    // The signals (QtSignals.cpp).
    void installSignalHandlers();
    void restoreSignalHandlers();
};

/// Whether a tray is there to show a status item in, asked afresh each time.
bool systemTrayPresent();

/// Whether Qt can use the display it is to connect to; when it cannot, says
/// why on standard error: Qt would abort with advice about reinstalling.
bool displayReachable();

} // namespace quellan::qt
