#include "WaylandSession.hpp"

#include <wayland-client.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quellan::wayland::testing {
namespace {

namespace fs = std::filesystem;

// Whether the compositor answers on `socket`: it listens before it serves,
// and serves once it has set up what clients use.
bool answers(const std::string& socket) {
    wl_display* display = wl_display_connect(socket.c_str());
    const bool answered = display != nullptr && wl_display_roundtrip(display) >= 0;
    if (display != nullptr) wl_display_disconnect(display);
    return answered;
}

// A socket whose name the compositor picked itself.
std::string socketIn(const std::string& directory, const std::string& prefix) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(directory, ignored))
        if (const std::string name = entry.path().filename(); name.starts_with(prefix) && !name.ends_with(".lock"))
            return entry.path();
    return {};
}

} // namespace

std::string name(Compositor which) {
    const char* names[] = {"kwin", "sway", "weston", "gnome"};
    return names[static_cast<int>(which)];
}

std::unique_ptr<Process> WaylandSession::startBus(const std::string& type, std::string& address, std::string& error) {
    // A bus of the session's own that starts no installed services.
    const std::string config = home() + "/" + type + ".conf";
    std::ofstream(config) << "<busconfig><type>" << type << "</type><listen>unix:path=" << runtime_ << "/" << type
                          << "_bus</listen><policy context=\"default\"><allow send_destination=\"*\" "
                             "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                             "</policy></busconfig>\n";
    auto bus = Process::spawn({"dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"},
                              {.environment = environment(), .pipes = true}, error);
    const auto printed = bus ? bus->readLine(10s) : std::nullopt;
    if (!printed || printed->empty()) {
        error = "dbus-daemon gave no address " + error;
        return nullptr;
    }
    address = *printed;
    return bus;
}

std::unique_ptr<WaylandSession> WaylandSession::start(Compositor which, std::string& error,
                                                      const GnomeShellOptions& gnome) {
    error.clear();
    auto session = std::unique_ptr<WaylandSession>(new WaylandSession());
    session->compositor_ = which;
    const std::string home = session->home();
    session->runtime_ = home + "/runtime";
    for (const char* folder : {"/config", "/data", "/cache"})
        fs::create_directory(home + folder);
    fs::create_directory(session->runtime_);
    chmod(session->runtime_.c_str(), 0700);

    if (!(session->bus_ = session->startBus("session", session->busAddress_, error))) return nullptr;
    if (which == Compositor::gnome) return session->startGnomeShell(gnome, error) ? std::move(session) : nullptr;

    auto environment = session->environment();
    std::string sockets = session->runtime_;
    std::vector<std::string> arguments;
    if (which == Compositor::kwin) {
        // The installed binary carries a file capability that containers may
        // refuse to grant, which fails its start; a copy has none and needs none.
        fs::copy_file("/usr/bin/kwin_wayland", home + "/kwin_wayland");
        environment["KWIN_WAYLAND_NO_PERMISSION_CHECKS"] = "1";
        // Clients draw their own frames: which decoration themes are installed does not matter.
        std::ofstream(home + "/config/kwinrc") << "[org.kde.kdecoration2]\nNoPlugin=true\n";
        arguments = {home + "/kwin_wayland", "--virtual", "--no-lockscreen", "--no-global-shortcuts"};
        arguments.insert(arguments.end(),
                         {"--no-kactivities", "--socket", "wayland-1", "--width", "1280", "--height", "800"});
        // With Xwayland for X11 clients. KWin picks its display and tells only
        // the program it starts once Xwayland is up: this one writes it down.
        std::ofstream(home + "/xdisplay.sh") << "#!/bin/sh\necho \"$DISPLAY\" > '" << home << "/xdisplay'\n";
        fs::permissions(home + "/xdisplay.sh", fs::perms::owner_all);
        arguments.insert(arguments.end(), {"--xwayland", home + "/xdisplay.sh"});
    } else if (which == Compositor::weston) {
        // No idle lock, panel or on-screen keyboard: nothing shown but the tests' windows.
        std::ofstream(home + "/weston.ini") << "[core]\nidle-time=0\n[shell]\nlocking=false\npanel-position=none\n"
                                               "[input-method]\npath=\n";
        arguments = {"weston", "--backend=headless-backend.so", "--socket=wayland-1",
                     "--config=" + home + "/weston.ini"};
    } else {
        environment.insert(
            {{"WLR_BACKENDS", "headless"}, {"WLR_RENDERER", "pixman"}, {"WLR_LIBINPUT_NO_DEVICES", "1"}});
        std::string config = home + "/sway.conf";
        // sway refuses root: then it runs as nobody, with a home and runtime
        // directory of nobody's, whose sockets root's clients reach all the same.
        if (const passwd* nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr) {
            const std::string own = home + "/compositor";
            environment["HOME"] = environment["XDG_CONFIG_HOME"] = environment["XDG_DATA_HOME"] =
                environment["XDG_CACHE_HOME"] = own;
            environment["XDG_RUNTIME_DIR"] = sockets = own + "/runtime";
            config = own + "/sway.conf";
            fs::create_directories(sockets);
            chmod(home.c_str(), 0711);
            for (const std::string& path : {own, sockets})
                if (chmod(path.c_str(), 0700) != 0 || chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
                    error = path + ": " + std::strerror(errno);
            arguments = {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                         "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups", "--"};
        }
        std::ofstream(config) << "xwayland disable\n";
        arguments.insert(arguments.end(), {"sway", "-c", config});
    }
    if (error.empty()) session->server_ = Process::spawn(arguments, {.environment = environment}, error);

    std::string socket;
    const auto running = [&] { return session->server_ && session->server_->running(); };
    const auto up = [&] {
        socket = socketIn(sockets, "wayland-");
        return !running() || (!socket.empty() && answers(socket));
    };
    if (!x11::testing::waitUntil(up, 30s) || !running()) {
        error = name(which) + " did not come up " + error + " (QUELLAN_X11_TEST_VERBOSE=1 shows its output)";
        return nullptr;
    }
    session->display_ = socket;
    if (which == Compositor::kwin) {
        const auto told = [&] { return std::getline(std::ifstream(home + "/xdisplay"), session->xDisplay_).good(); };
        if (!x11::testing::waitUntil(told, 30s)) {
            error = "KWin started no Xwayland";
            return nullptr;
        }
    }
    if (which == Compositor::sway) session->swaySocket_ = socketIn(sockets, "sway-ipc.");
    return session;
}

std::map<std::string, std::string> WaylandSession::environment() const {
    const char* desktops[] = {"KDE", "sway", "weston", "GNOME"};
    std::map<std::string, std::string> environment{{"HOME", home()},
                                                   {"XDG_CONFIG_HOME", home() + "/config"},
                                                   {"XDG_DATA_HOME", home() + "/data"},
                                                   {"XDG_CACHE_HOME", home() + "/cache"},
                                                   {"XDG_RUNTIME_DIR", runtime_},
                                                   {"WAYLAND_DISPLAY", display_},
                                                   {"DISPLAY", ""},
                                                   {"DBUS_SESSION_BUS_ADDRESS", busAddress_},
                                                   {"XDG_SESSION_TYPE", "wayland"},
                                                   {"XDG_CURRENT_DESKTOP", desktops[static_cast<int>(compositor_)]}};
    if (!swaySocket_.empty()) environment["SWAYSOCK"] = swaySocket_;
    if (compositor_ == Compositor::gnome)
        environment.insert({{"XAUTHORITY", xAuthority_},
                            {"DBUS_SYSTEM_BUS_ADDRESS", systemBusAddress_},
                            {"GSETTINGS_BACKEND", "keyfile"}});
    return environment;
}

std::unique_ptr<Process> WaylandSession::startProgram(const std::vector<std::string>& arguments, std::string& error,
                                                      Process::Options options) {
    options.environment.merge(environment());
    return Process::spawn(arguments, options, error);
}

std::unique_ptr<Process> WaylandSession::startWindows(const std::string& appId, const std::vector<std::string>& titles,
                                                      std::string& error) {
    std::vector<std::string> arguments{QUELLAN_WINDOW_MAKER, "--app-id", appId};
    arguments.insert(arguments.end(), titles.begin(), titles.end());
    auto windows = startProgram(arguments, error, {.environment = {{"QT_QPA_PLATFORM", "wayland"}}, .pipes = true});
    for (const std::string& title : titles) {
        if (!windows || windows->readLine(10s) != "opened " + title) {
            error += " the window " + title + " was not shown";
            return nullptr;
        }
    }
    return windows;
}

} // namespace quellan::wayland::testing
