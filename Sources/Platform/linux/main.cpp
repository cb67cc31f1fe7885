// Entry point of the Linux desktop port: the windows of a Wayland
// compositor or an X11 display, the Qt tray, the settings file, then the
// program itself.
#include "Platform/Clock.hpp"
#include "Platform/Platform.hpp"
#include "Platform/gnome/GnomeDesktop.hpp"
#include "Platform/qt/CommandLine.hpp"
#include "Platform/qt/InstanceLock.hpp"
#include "Platform/qt/QtDesktop.hpp"
#include "Platform/wayland/WaylandDesktop.hpp"
#include "Platform/x11/X11Desktop.hpp"
#include "Quellan/Launch.hpp"
#include "Quellan/WindowMonitor.hpp"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

namespace {

using namespace quellan;
using Tell = std::function<void(std::string)>;

// On X11 nothing needs granting: windows are visible to any client once the
// window manager publishes them. What stands in for missing access is a
// window manager without the EWMH client list and active window.
constexpr const char* kNoWindowManagerHelp =
    "The window manager does not publish its client list and active window (EWMH), so Quellan cannot see any "
    "windows. Use an EWMH window manager such as Openbox, Xfwm4, KWin, Mutter, Fluxbox or IceWM; Quellan picks it "
    "up by itself once it runs.";
// On Wayland access is the compositor's interface, checked at start; only a lost compositor takes it away.
constexpr const char* kNoCompositorHelp = "The connection to the Wayland compositor is gone, so Quellan cannot see "
                                          "any windows.";

// GNOME shows status icons only through this extension.
constexpr const char* kGnomeTrayHint =
    "GNOME shows Quellan's icon only with the AppIndicator extension: install gnome-shell-extension-appindicator "
    "(built into Ubuntu) and enable it with \"gnome-extensions enable ubuntu-appindicators@ubuntu.com\", logging out "
    "and back in if it was installed since you logged in.";

bool nonEmpty(const char* text) { return text != nullptr && *text != '\0'; }

/// Whether XDG_CURRENT_DESKTOP names GNOME (Ubuntu's "ubuntu:GNOME" too).
bool onGnome() {
    const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
    for (std::string_view rest = desktops != nullptr ? desktops : ""; !rest.empty();) {
        const std::string_view name = rest.substr(0, rest.find(':'));
        if (std::ranges::equal(name, std::string_view("GNOME"),
                               [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; }))
            return true;
        rest.remove_prefix(std::min(name.size() + 1, rest.size()));
    }
    return false;
}

/// Runs the program over `desktop` until it quits; `explainAccess` says what is missing.
template <typename Desktop> int runOn(Desktop& desktop, const std::function<void()>& explainAccess, const Tell& tell,
                                      const std::string& settingsPath) {
    // Both access rows of the menu, and the start without access, explain what is missing.
    desktop.model().setTrustPromptHandler(explainAccess);
    desktop.model().setAddressHandler([&explainAccess](std::string_view) {
        explainAccess();
        return true;
    });
    desktop.model().setNoticeHandler([&tell](const std::string& text) { tell(text); });
    // Focus changes are read as they happen, so one shorter than a scan still counts
    // (GNOME's come over D-Bus, on Qt's own connection).
    std::shared_ptr<void> watch;
    if constexpr (requires { desktop.eventDescriptor(); })
        watch = qt::watchReadable(desktop.eventDescriptor(), [&desktop] { return desktop.processEvents(); });

    auto runLoop = qt::makeRunLoop();
    platform::Backends backends = desktop.backends();
    backends.runLoop = runLoop.get();
    platform::ScopedBackends installed(backends);
    std::shared_ptr<platform::UserDefaults> defaults = qt::makeUserDefaults(settingsPath, tell);
    for (const std::string& problem : WindowMonitor::unusableStoredSettings(*defaults))
        tell(problem);
    platform::installStandardUserDefaults(std::move(defaults));
    const int status = runApplication();
    platform::installStandardUserDefaults(nullptr);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    if (const auto answer = qt::readCommandLine(argc, argv, QUELLAN_VERSION); answer.exitStatus) {
        std::fputs(answer.text.c_str(), *answer.exitStatus == 0 ? stdout : stderr);
        return *answer.exitStatus;
    }
    // A Wayland session is served through the compositor, never through
    // Xwayland, which shows only some of the windows.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* display = nonEmpty(wayland) ? wayland : std::getenv("DISPLAY");
    if (!nonEmpty(display)) {
        std::fputs("quellan: no desktop session (neither WAYLAND_DISPLAY nor DISPLAY is set); start Quellan from a "
                   "desktop session.\n",
                   stderr);
        return 1;
    }
    // Until the framework hears it, a second start's knock must not end this one.
    std::signal(SIGUSR1, SIG_IGN);
    // The framework first: it owns the QApplication the other Qt parts need.
    // GNOME under Wayland offers no window interface but its Shell's, which
    // Quellan's own Shell extension opens to it.
    const bool gnomeShell = nonEmpty(wayland) && onGnome();
    auto framework = qt::makeFramework(argc, argv, {.trayHint = gnomeShell ? kGnomeTrayHint : ""});
    if (!framework) return 1;
    std::unique_ptr<wayland::WaylandDesktop> compositor;
    if (nonEmpty(wayland) && !gnomeShell) {
        auto connected = wayland::WaylandDesktop::connect();
        if (!connected.desktop) {
            // Started from a menu, Quellan has no terminal: the desktop says it.
            std::fprintf(stderr, "quellan: %s.\n", connected.error.c_str());
            connected.error[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(connected.error[0])));
            framework->notifyDesktop(connected.error + ".");
            return 1;
        }
        compositor = std::move(connected.desktop);
    }
    const std::string settingsPath = qt::defaultSettingsPath();
    const auto instance = qt::acquireInstanceLock(std::getenv("XDG_RUNTIME_DIR"), display,
                                                  std::filesystem::path(settingsPath).parent_path().string());
    if (instance.holder != 0) {
        // The running one shows where it is, where the person looks.
        kill(instance.holder, SIGUSR1);
        std::fprintf(stderr, "quellan: Quellan is already running on this display (process %d).\n",
                     static_cast<int>(instance.holder));
        return 0;
    }
    if (!instance.lock)
        std::fprintf(stderr, "quellan: cannot tell whether Quellan already runs (%s)\n", instance.error.c_str());

    // What a person must act on goes to standard error and, since nobody
    // watches that for a tray program, to the desktop's notifications.
    const Tell tell = [&framework](std::string text) {
        std::fprintf(stderr, "quellan: %s\n", text.c_str());
        if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
        framework->showNotice(text);
    };
    framework->setAnotherStartHandler([&tell] { tell("Quellan is already running; its menu is behind this icon."); });
    appkit::installFramework(framework.get());
    const auto explain = [&tell](const char* help) { return [&tell, help] { tell(help); }; };
    int status = 1;
    if (gnomeShell) {
        gnome::GnomeDesktop shell;
        status = runOn(
            shell, [&shell] { shell.explainAccess(); }, tell, settingsPath);
    } else if (compositor) {
        status = runOn(*compositor, explain(kNoCompositorHelp), tell, settingsPath);
    } else if (auto connected = x11::X11Desktop::connect(); connected.desktop) {
        connected.desktop->setOwnWindows([&framework] { return framework->ownWindowIds(); });
        connected.desktop->setRootFloodHandler(
            [&framework](bool flooding) { framework->hearRootProperties(!flooding); });
        status = runOn(*connected.desktop, explain(kNoWindowManagerHelp), tell, settingsPath);
    } else {
        std::fprintf(stderr, "quellan: %s\n", connected.error.c_str());
    }
    appkit::installFramework(nullptr);
    return status;
}
