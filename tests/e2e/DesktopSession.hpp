// A whole desktop session for the real program, build/quellan: Xvfb, a
// window manager, a tray host (trayer, wmsystemtray, or a status notifier
// panel on a bus of its own), the probe, and a home of its own for
// Quellan's settings. Shared by the end-to-end tests and the benchmarks.
#pragma once

#include "PanelSession.hpp"
#include "XTestEnvironment.hpp"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quellan::e2e {

using x11::WindowId;
using x11::testing::Process;

/// Adds to `into` every line `process` has written so far; returns `into`.
std::string& collectOutput(Process& process, std::string& into);

/// How many times slower than usual Quellan runs: 6 under a tool such as
/// valgrind (QUELLAN_UNDER), 1 otherwise. Waits and holds scale with it.
int slowdown();

class DesktopSession {
public:
    /// Starts everything but Quellan (and, without `withTray`, the tray);
    /// null with `error` set when something would not start. A "+" after
    /// the window manager names the tray: "openbox+wmsystemtray", or
    /// "openbox+xfce4-panel" (or lxqt-panel, mate-panel) for a status
    /// notifier panel; trayer by default.
    static std::unique_ptr<DesktopSession> start(const std::string& windowManager, std::string& error,
                                                 bool withTray = true);
    bool startTray(std::string& error);

    const std::string& display() const { return server_->display(); }
    x11::testing::XServer& server() { return *server_; }
    x11::testing::Probe& probe() { return *probe_; }

    std::filesystem::path settingsFile() const;
    void writeSettings(const std::string& text) const;
    /// What Quellan runs with: this display and home, and the panel's bus;
    /// without a panel no bus, so that Qt takes the XEmbed tray trayer offers.
    std::map<std::string, std::string> environment() const;
    PanelHost* panel() { return panel_.get(); }

    /// Ends the window manager and starts `replacement`, as a person
    /// replacing it would; false with `error` set when it does not come up.
    bool replaceWindowManager(const std::string& replacement, std::string& error);
    void stopWindowManager() { manager_.reset(); }
    /// Stops the window manager (SIGSTOP) for `pause`, as a busy one seems.
    void pauseWindowManager(std::chrono::milliseconds pause);

    /// Starts Quellan, with its standard error joined to its output, and
    /// (with `waitForIcon`) waits for its icon in the tray; null with `error` set otherwise.
    /// `screen` (".0", say) is added to the display name it is given.
    std::unique_ptr<Process> startQuellan(std::string& error, bool waitForIcon = true, const std::string& screen = {});
    /// The window of Quellan's icon, once `startQuellan` has seen it.
    const std::string& icon() const { return icon_; }
    /// The ids of Quellan's visible windows: its tray icon and any open menu.
    std::vector<std::string> visibleQuellanWindows() const;

private:
    DesktopSession() = default;
    std::filesystem::path home() const { return home_.path(); }
    // The home outlives the panel, whose programs write into it until they end.
    x11::testing::TemporaryFolder home_{"e2e"};
    std::string trayName_;
    std::string icon_;
    std::unique_ptr<x11::testing::XServer> server_;
    std::unique_ptr<x11::testing::WindowManager> manager_;
    std::unique_ptr<Process> tray_;
    std::unique_ptr<PanelHost> panel_;
    std::unique_ptr<x11::testing::Probe> probe_;
};

} // namespace quellan::e2e
