// Headless Wayland desktops for the tests: a compositor with a home, a
// runtime directory and a session bus of its own, and clients started into
// it, among them a window source that opens windows on command.
#pragma once

#include "XTestEnvironment.hpp"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quellan::wayland::testing {

using namespace std::chrono_literals;
using x11::testing::Process;

enum class Compositor { kwin, sway, weston };

/// "kwin", "sway" or "weston".
std::string name(Compositor which);

/// Clients started from a session are to end before it: its home goes with it.
class WaylandSession {
public:
    /// Starts `which` headless and waits until it takes windows; null with
    /// `error` set if it cannot.
    static std::unique_ptr<WaylandSession> start(Compositor which, std::string& error);

    /// WAYLAND_DISPLAY, as a path: a client of any runtime directory reaches
    /// it (sway as root runs as another user, with a runtime directory of its own).
    const std::string& display() const { return display_; }
    const std::string& busAddress() const { return busAddress_; }
    /// KWin's Xwayland display, for X11 clients; empty on the others.
    const std::string& xDisplay() const { return xDisplay_; }
    const std::string& home() const { return home_.path(); }
    /// WAYLAND_DISPLAY, XDG_RUNTIME_DIR, HOME, XDG_CONFIG_HOME,
    /// DBUS_SESSION_BUS_ADDRESS, XDG_SESSION_TYPE, XDG_CURRENT_DESKTOP, an
    /// empty DISPLAY, and on sway SWAYSOCK.
    std::map<std::string, std::string> environment() const;

    /// Starts a client with this desktop's environment over `options`'.
    std::unique_ptr<Process> startProgram(const std::vector<std::string>& arguments, std::string& error,
                                          Process::Options options = {});
    /// Starts a program whose windows carry the app_id `appId` and opens
    /// one titled each of `titles`, in order; returns once all are shown.
    std::unique_ptr<Process> startWindows(const std::string& appId, const std::vector<std::string>& titles,
                                          std::string& error);

private:
    WaylandSession() = default;
    x11::testing::TemporaryFolder home_{"wl"}; // outlives the compositor and the bus, which end in that order
    Compositor compositor_ = Compositor::weston;
    std::string runtime_, display_, busAddress_, swaySocket_, xDisplay_;
    std::unique_ptr<Process> bus_, server_;
};

} // namespace quellan::wayland::testing
