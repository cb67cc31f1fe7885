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

/// A window source (WindowMaker) running in a session.
class Windows {
public:
    ~Windows();
    /// Sends one command line ("open TITLE", "close TITLE").
    bool send(const std::string& line);
    /// Reads its output until `line` comes; false if it does not in time.
    bool expect(const std::string& line, std::chrono::milliseconds limit = 10s);
    /// Opens a window and waits until the compositor shows it.
    bool open(const std::string& title) { return send("open " + title) && expect("opened " + title); }
    Process& process() { return *process_; }

private:
    friend class WaylandSession;
    std::unique_ptr<Process> process_;
    int commands_ = -1;
};

/// Clients started from a session are to end before it: its home goes with it.
class WaylandSession {
public:
    /// Starts `which` headless and waits until it takes windows; null with
    /// `error` set if it cannot.
    static std::unique_ptr<WaylandSession> start(Compositor which, std::string& error);
    ~WaylandSession();

    /// WAYLAND_DISPLAY: a socket name, or a path where the compositor runs
    /// as another user with a runtime directory of its own (sway as root).
    const std::string& display() const { return display_; }
    const std::string& busAddress() const { return busAddress_; }
    const std::string& home() const { return home_; }
    /// WAYLAND_DISPLAY, XDG_RUNTIME_DIR, HOME, XDG_CONFIG_HOME,
    /// DBUS_SESSION_BUS_ADDRESS, XDG_SESSION_TYPE, XDG_CURRENT_DESKTOP, an
    /// empty DISPLAY, and on sway SWAYSOCK.
    std::map<std::string, std::string> environment() const;
    bool running() { return server_ && server_->running(); }

    /// Starts a client with this desktop's environment over `options`'.
    std::unique_ptr<Process> startProgram(const std::vector<std::string>& arguments, std::string& error,
                                          Process::Options options = {});
    /// Starts a window source whose windows carry the app_id `appId`.
    std::unique_ptr<Windows> startWindows(const std::string& appId, std::string& error);

private:
    WaylandSession() = default;
    Compositor compositor_ = Compositor::weston;
    std::string home_, runtime_, display_, busAddress_, swaySocket_;
    std::unique_ptr<Process> bus_, server_;
    int windowSources_ = 0;
};

} // namespace quellan::wayland::testing
