// Real displays for the X11 tests, the end-to-end tests and the benchmarks:
// an Xvfb server of their own, a window manager and a tray host, each with
// inputs of the test's own, and a probe connection that makes windows as
// applications would and watches what the window manager does.
#pragma once

#include "Platform/x11/X11Desktop.hpp"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct xcb_connection_t;

namespace quellan::x11::testing {

using namespace std::chrono_literals;

/// Polls `condition` until it holds or `limit` passes; returns whether it held.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s);

/// A folder of its own in /tmp, removed with all it holds when destroyed.
/// Throws if it cannot be made: nothing a test does could go on without it.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::string& name);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

/// A child process, ended (SIGTERM, then SIGKILL) when destroyed.
class Process {
public:
    struct Options {
        std::map<std::string, std::string> environment;
        bool pipes = false;         ///< its output comes through readLine
        bool errorToOutput = false; ///< its standard error joins its output (needs pipes)
    };
    static std::unique_ptr<Process> spawn(const std::vector<std::string>& arguments, const Options& options,
                                          std::string& error);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    /// Its exit status once it ends within `limit`; none if it does not, or a signal ends it.
    std::optional<int> exitCode(std::chrono::milliseconds limit);
    void stop();
    /// The next line of its output, waiting at most `limit`.
    std::optional<std::string> readLine(std::chrono::milliseconds limit = 10s);

private:
    Process() = default;
    pid_t pid_ = -1;
    int output_ = -1;
    std::string buffered_;
    bool reaped_ = false;
    bool stopped_ = false;
    int status_ = 0;
};

/// What the file at `path` holds; empty if there is none.
std::string readFile(const std::string& path);

/// Runs a short command and returns its output lines.
std::vector<std::string> runCommand(const std::vector<std::string>& arguments,
                                    const std::map<std::string, std::string>& environment = {});

/// An Xvfb server on a display it picks itself.
class XServer {
public:
    static std::unique_ptr<XServer> start(std::string& error);
    const std::string& display() const { return display_; }
    pid_t pid() const { return process_->pid(); }
    void kill() { process_->stop(); }

private:
    std::unique_ptr<Process> process_;
    std::string display_;
};

/// A window manager on a display, with a home directory of its own.
class WindowManager {
public:
    /// Starts `program` ("openbox", "fluxbox", "i3") with a configuration of the
    /// test's own and waits until it announces itself. With `expectEmpty`,
    /// fails naming any client window already there.
    static std::unique_ptr<WindowManager> start(const std::string& program, const std::string& display,
                                                std::string& error, bool expectEmpty = true);
    /// Its process, to pause and resume it as a busy or swapped-out one would be.
    pid_t pid() const;

private:
    TemporaryFolder home_{"wm"}; // outlives the process
    std::unique_ptr<Process> process_;
};

/// Starts an XEmbed system tray host, trayer or wmsystemtray, and waits
/// until it owns the tray selection.
std::unique_ptr<Process> startTrayHost(const std::string& program, const std::string& display, std::string& error);

/// A connection of the test's own to the display, to look and to ask.
class Probe {
public:
    static std::unique_ptr<Probe> connect(const std::string& display, std::string& error);
    Probe() = default;
    ~Probe();
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    Atom atom(const std::string& name);
    std::vector<std::uint32_t> cardinals(WindowId window, const std::string& property);
    std::vector<WindowId> clientList();
    std::optional<WindowId> activeWindow();
    std::optional<std::uint32_t> wmState(WindowId window);
    /// Whether some client owns the selection `name` ("_NET_SYSTEM_TRAY_S0").
    bool selectionOwned(const std::string& name);
    WindowId root() const { return root_; }

    /// Asks the window manager as a pager would.
    void activate(WindowId window);
    /// Makes a window as an application would, the probe's connection
    /// standing in for it, and maps it. `options`, space-separated:
    /// pid=N|none (else 4000: not this test's pid, which a window source
    /// running inside the test leaves out), machine=S|none (else this host), class=S, type=a,b ("dialog"), state=a,b
    /// ("hidden"), transient=W, title=S, nomap, placed (a position of its own), parent=W (a child of W),
    /// owns=SELECTION. 0 on failure.
    WindowId create(const std::string& options = {});
    /// Sets `property` of `window` (0: the root): `kind` "atoms", "windows",
    /// "cardinals" or "wmstate" with comma-separated values, or a type name
    /// with the bytes themselves. Done on the server when it returns.
    void set(WindowId window, const std::string& property, const std::string& kind, const std::string& values);
    /// Plays a window manager's announcement: a check window naming itself.
    void announceWindowManager();
    void destroyWindow(WindowId window);
    /// Maps them all in one flush, as a session being restored does.
    void map(const std::vector<WindowId>& windows);
    /// Holds every other client's requests back until released, as a window manager may.
    void grabServer(bool grabbed);
    /// Managed, and given the state, desktop and (with `withActions`) the
    /// allowed actions a window manager sets on managing.
    bool waitManaged(WindowId window, bool withActions = true, std::chrono::milliseconds limit = 10s);

private:
    void sync();
    xcb_connection_t* connection_ = nullptr;
    std::map<std::string, Atom> atoms_; // a round trip each the first time only
    WindowId root_ = 0;
    std::string display_;
};

} // namespace quellan::x11::testing
