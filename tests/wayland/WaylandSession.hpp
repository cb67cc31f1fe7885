// Headless Wayland desktops for the tests: a compositor with a home, a
// runtime directory and a session bus of its own, and clients started into
// it, among them a window source that opens windows on command.
#pragma once

#include "XTestEnvironment.hpp"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quellan::wayland::testing {

using namespace std::chrono_literals;
using x11::testing::Process;

enum class Compositor { kwin, sway, weston, gnome };

/// "kwin", "sway", "weston" or "gnome".
std::string name(Compositor which);

/// What GNOME Shell starts with besides the tests' own extension, which lets eval() in.
struct GnomeShellOptions {
    /// Built extension folders, each installed as the user's own under the uuid its metadata.json names.
    std::vector<std::string> extensionFolders;
    /// uuids enabled from the start.
    std::vector<std::string> enabledExtensions;
    /// The system's app indicator extension enabled too, hosting a StatusNotifierWatcher.
    bool appIndicator = false;
    /// The shell's environment over the session's.
    std::map<std::string, std::string> environment;
};

/// Clients started from a session are to end before it: its home goes with it.
class WaylandSession {
public:
    /// Starts `which` headless and waits until it takes windows; null with
    /// `error` set if it cannot. `gnome` is read by GNOME Shell only.
    static std::unique_ptr<WaylandSession> start(Compositor which, std::string& error,
                                                 const GnomeShellOptions& gnome = {});
    ~WaylandSession();

    /// WAYLAND_DISPLAY, as a path: a client of any runtime directory reaches
    /// it (sway as root runs as another user, with a runtime directory of its own).
    const std::string& display() const { return display_; }
    const std::string& busAddress() const { return busAddress_; }
    /// KWin's or GNOME Shell's Xwayland display, for X11 clients; empty on
    /// the others. environment() holds the XAUTHORITY it asks for.
    const std::string& xDisplay() const { return xDisplay_; }
    const std::string& home() const { return home_.path(); }
    /// WAYLAND_DISPLAY, XDG_RUNTIME_DIR, HOME, XDG_CONFIG_HOME, XDG_DATA_HOME,
    /// XDG_CACHE_HOME, DBUS_SESSION_BUS_ADDRESS, XDG_SESSION_TYPE,
    /// XDG_CURRENT_DESKTOP, an empty DISPLAY; on sway SWAYSOCK; on GNOME
    /// XAUTHORITY, DBUS_SYSTEM_BUS_ADDRESS and the shell's GSETTINGS_BACKEND.
    std::map<std::string, std::string> environment() const;

    /// Starts a client with this desktop's environment over `options`'.
    std::unique_ptr<Process> startProgram(const std::vector<std::string>& arguments, std::string& error,
                                          Process::Options options = {});
    /// Starts a program whose windows carry the app_id `appId` and opens
    /// one titled each of `titles`, in order; returns once all are shown.
    std::unique_ptr<Process> startWindows(const std::string& appId, const std::vector<std::string>& titles,
                                          std::string& error);

    /// GNOME Shell only: evaluates JavaScript in the shell (`Main`, `global`
    /// at hand); the result as JSON ("" for undefined), or none with `error` set.
    std::optional<std::string> eval(const std::string& code, std::string& error);
    /// GNOME Shell only: enables or disables an installed extension and waits until it is so.
    bool setExtensionEnabled(const std::string& uuid, bool enabled, std::string& error);

private:
    WaylandSession() = default;
    /// A private bus of `type` ("session", "system"), its address set.
    std::unique_ptr<Process> startBus(const std::string& type, std::string& address, std::string& error);
    bool startGnomeShell(const GnomeShellOptions& options, std::string& error);
    x11::testing::TemporaryFolder home_{"wl"}; // outlives the compositor and the bus, which end in that order
    Compositor compositor_ = Compositor::weston;
    std::string runtime_, display_, busAddress_, swaySocket_, xDisplay_, xAuthority_, systemBusAddress_;
    std::unique_ptr<Process> systemBus_, bus_, server_;
};

} // namespace quellan::wayland::testing
