// The Qt 6 desktop for the Linux port: the application object, the tray
// status item with its menu, main-thread timers and the settings file.
//
// No Qt header is included here, so the program's entry point can build
// its backends without Qt reaching the rest of the program:
//
//     int main(int argc, char** argv) {
//         // First: the framework owns the QApplication everything else needs.
//         auto framework = quellan::qt::makeFramework(argc, argv);
//         if (!framework) return 1;                 // no display; already said why
//         auto runLoop = quellan::qt::makeRunLoop();
//         auto defaults = quellan::qt::makeUserDefaults(quellan::qt::defaultSettingsPath());
//         quellan::appkit::installFramework(framework.get());
//         ... install the run loop with the other platform backends, make the delegate ...
//         quellan::appkit::sharedApplication().run();   // returns after terminate()
//     }
//
// Destroy them in the reverse order: timers and status items may outlive
// the run loop and the framework (they go quiet), but not the process.
//
// makeFramework(argc, argv, options)
//     The application over QApplication, with no window and no taskbar
//     entry. `argc` and `argv` must outlive it. Returns null, after one
//     line on standard error, when there is no display to connect to.
//     Its status items use the system tray: a status notifier host over
//     D-Bus when one runs, the XEmbed tray otherwise. While neither is
//     there, it says so once on standard error and polls until one is.
//     SIGTERM, SIGINT and SIGHUP end the program through terminate(), so
//     the delegate's applicationWillTerminate runs. When the display goes
//     away Qt ends the process at once; a line on standard error says so.
//     Keep the framework a local of main, so that it is gone before exit.
// makeRunLoop()
//     Timers over precise QTimers on the main thread. Qt has no run-loop
//     modes: every tick fires in every mode, while a menu is open too.
//     Needs the framework to exist before any timer is scheduled.
// makeUserDefaults(path)
//     Settings written to `path` on every change, atomically. A file that
//     cannot be read gives defaults and is moved aside, never overwritten;
//     a place that cannot be written leaves the settings in memory. Each of
//     these is said once, on standard error or to the given reporter.
//     Needs no QApplication.
// defaultSettingsPath()
//     $XDG_CONFIG_HOME/quellan/quellan.conf, with ~/.config when
//     XDG_CONFIG_HOME is unset, empty or not an absolute path.
#pragma once

#include "Platform/AppKit.hpp"
#include "Platform/RunLoop.hpp"
#include "Platform/UserDefaults.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quellan::qt {

struct FrameworkOptions {
    /// How often to look again for a system tray while there is none.
    std::chrono::milliseconds trayPollInterval = std::chrono::seconds(1);
    /// Whether to end the program through terminate() on SIGTERM, SIGINT and
    /// SIGHUP, and to hear SIGUSR1 (see setAnotherStartHandler).
    bool handleTerminationSignals = true;
    /// What the person is told, besides the wait itself, when no tray is
    /// there: what gives this desktop one. Also sent as a notification.
    std::string trayHint{};
};

/// The framework backend. Owns the QApplication; there is one at a time.
class QtFramework : public appkit::FrameworkBackend {
public:
    ~QtFramework() override;
    QtFramework(const QtFramework&) = delete;
    QtFramework& operator=(const QtFramework&) = delete;

    appkit::Application& sharedApplication() override;
    appkit::StatusBar& systemStatusBar() override;
    /// Knows "macwindow.on.rectangle" and "exclamationmark.triangle".
    std::optional<appkit::Image> imageWithSystemSymbolName(std::string_view name,
                                                           std::string_view accessibilityDescription) override;

    /// True while status items wait for a system tray to appear.
    bool waitingForSystemTray() const;
    /// Called on the main thread when the wait starts (true) and when it
    /// ends and the status items are shown (false).
    void setSystemTrayObserver(std::function<void(bool waiting)> observer);
    /// Shows `text` as a message from the status item, where the desktop
    /// shows such messages; while there is no tray, through the desktop's
    /// notification service, or where there is none, kept until an item is shown.
    void showNotice(const std::string& text);
    /// Shows `text` through the desktop's notification service, with no
    /// status item needed: for what is said on the way out. Waits at most a
    /// second for the service; false when it did not take it.
    bool notifyDesktop(const std::string& text);
    /// Called on the main thread when a second start of the program,
    /// refused, asks this one to show itself (SIGUSR1).
    void setAnotherStartHandler(std::function<void()> handler);
    /// The native window ids of the program's own windows that exist now:
    /// its tray icon and its menus.
    std::vector<std::uint32_t> ownWindowIds() const;
    /// On X11, whether Qt's own connection hears the root's property changes
    /// (the work area, the resources): not while the root floods them, which
    /// would wake the program for each one. A change meanwhile is missed.
    void hearRootProperties(bool heard);

    struct State;

private:
    friend std::unique_ptr<QtFramework> makeFramework(int&, char**, const FrameworkOptions&);
    explicit QtFramework(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

std::unique_ptr<QtFramework> makeFramework(int& argc, char** argv, const FrameworkOptions& options = {});
std::unique_ptr<platform::RunLoop> makeRunLoop();
/// Calls `callback` on the main thread whenever `descriptor` has something
/// to read, for as long as the handle is kept; null without an application.
/// The callback returns how long to leave the descriptor unwatched after it.
std::shared_ptr<void> watchReadable(int descriptor, std::function<std::chrono::milliseconds()> callback);
/// `report` receives what the person running Quellan should know about the
/// file; standard error when none is given.
std::unique_ptr<platform::UserDefaults> makeUserDefaults(const std::string& path,
                                                         std::function<void(const std::string&)> report = {});
std::string defaultSettingsPath();

/// The settings path for these environment values (each may be null):
/// what defaultSettingsPath() gives, without reading the environment.
std::string settingsPathFor(const char* xdgConfigHome, const char* home);

} // namespace quellan::qt
