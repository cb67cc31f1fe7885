#include "DesktopSession.hpp"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace quellan::e2e {

using namespace std::chrono_literals;
using namespace x11::testing;

std::string& collectOutput(Process& process, std::string& into) {
    while (auto line = process.readLine(50ms))
        into += *line + "\n";
    return into;
}

int slowdown() {
    const char* under = std::getenv("QUELLAN_UNDER");
    return under != nullptr && *under != '\0' ? 6 : 1;
}

std::unique_ptr<DesktopSession> DesktopSession::start(const std::string& windowManager, std::string& error,
                                                      bool withTray) {
    std::unique_ptr<DesktopSession> session(new DesktopSession);
    const auto plus = windowManager.find('+');
    session->trayName_ = plus == std::string::npos ? "trayer" : windowManager.substr(plus + 1);
    if (!(session->server_ = XServer::start(error))) return nullptr;
    const std::string& display = session->display();
    if (!(session->manager_ = WindowManager::start(windowManager.substr(0, plus), display, error))) return nullptr;
    if (!(session->probe_ = Probe::connect(display, error))) return nullptr;
    // Qt wants its runtime folder private.
    std::filesystem::create_directories(session->home() / "runtime");
    chmod((session->home() / "runtime").c_str(), 0700);
    if (withTray && !session->startTray(error)) return nullptr;
    return session;
}

bool DesktopSession::startTray(std::string& error) {
    if (PanelHost::isPanel(trayName_))
        return (panel_ = PanelHost::start(display(), home() / "panel", error, trayName_)) != nullptr;
    return (tray_ = startTrayHost(trayName_, display(), error)) != nullptr;
}

bool DesktopSession::replaceWindowManager(const std::string& replacement, std::string& error) {
    manager_.reset();
    return (manager_ = WindowManager::start(replacement, display(), error, false)) != nullptr;
}

void DesktopSession::pauseWindowManager(std::chrono::milliseconds pause) {
    ::kill(manager_->pid(), SIGSTOP);
    std::this_thread::sleep_for(pause);
    ::kill(manager_->pid(), SIGCONT);
}

std::filesystem::path DesktopSession::settingsFile() const { return home() / "config" / "quellan" / "quellan.conf"; }

void DesktopSession::writeSettings(const std::string& text) const {
    std::filesystem::create_directories(settingsFile().parent_path());
    std::ofstream(settingsFile()) << text;
}

std::map<std::string, std::string> DesktopSession::environment() const {
    return {{"DISPLAY", display()},
            {"HOME", home_.path()},
            {"XDG_CONFIG_HOME", (home() / "config").string()},
            {"XDG_RUNTIME_DIR", (home() / "runtime").string()},
            {"DBUS_SESSION_BUS_ADDRESS", panel_ ? panel_->busAddress() : "unix:path=/nonexistent/bus"},
            {"QT_QPA_PLATFORM", "xcb"}};
}

std::vector<std::string> DesktopSession::visibleQuellanWindows() const {
    return runCommand({"xdotool", "search", "--onlyvisible", "--classname", "^quellan$"}, environment());
}

std::unique_ptr<Process> DesktopSession::startQuellan(std::string& error, bool waitForIcon, const std::string& screen) {
    // QUELLAN_UNDER runs it under a tool, "valgrind --leak-check=full" say.
    std::istringstream under(std::getenv("QUELLAN_UNDER") ? std::getenv("QUELLAN_UNDER") : "");
    std::vector<std::string> arguments(std::istream_iterator<std::string>(under), {});
    arguments.push_back(QUELLAN_PROGRAM);
    auto variables = environment();
    variables["DISPLAY"] += screen;
    auto quellan = Process::spawn(arguments, {.environment = variables, .pipes = true, .errorToOutput = true}, error);
    if (!quellan) return nullptr;
    // A panel draws the icon itself, from the item Quellan registers with it.
    // The icon is the window seen then: a tray re-embedding it may hide it a moment later.
    std::vector<std::string> windows;
    const auto shown = [&] { return panel_ ? panel_->findItem() : (windows = visibleQuellanWindows()).size() == 1; };
    if (waitForIcon && !waitUntil(shown, 60s)) {
        error = "no tray icon appeared; it said:\n";
        collectOutput(*quellan, error);
        return nullptr;
    }
    if (waitForIcon && !panel_) icon_ = windows.at(0);
    return quellan;
}

} // namespace quellan::e2e
