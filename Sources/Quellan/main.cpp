// Entry point of the Linux desktop port: X11 windows, the Qt tray, the
// settings file, then the program itself.
#include "Platform/Clock.hpp"
#include "Platform/Platform.hpp"
#include "Platform/qt/InstanceLock.hpp"
#include "Platform/qt/QtDesktop.hpp"
#include "Platform/x11/X11Desktop.hpp"
#include "Quellan/Launch.hpp"
#include "Quellan/WindowMonitor.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

// On X11 nothing needs granting: windows are visible to any client once the
// window manager publishes them. What stands in for missing access is a
// window manager without the EWMH client list and active window.
constexpr const char* kNoWindowManagerHelp =
    "The window manager does not publish its client list and active window (EWMH), so Quellan cannot see any "
    "windows. Use an EWMH window manager such as Openbox, Xfwm4, KWin, Mutter, Fluxbox or IceWM; Quellan picks it "
    "up by itself once it runs.";

} // namespace

int main(int argc, char** argv) {
    using namespace quellan;
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        std::fputs("quellan: no X display (DISPLAY is not set); start Quellan from a desktop session.\n", stderr);
        return 1;
    }
    // Until the framework hears it, a second start's knock must not end this one.
    std::signal(SIGUSR1, SIG_IGN);
    // The framework first: it owns the QApplication the other Qt parts need.
    auto framework = qt::makeFramework(argc, argv);
    if (!framework) return 1;
    const std::string settingsPath = qt::defaultSettingsPath();
    const auto instance = qt::InstanceLock::acquire(qt::instanceLockPath(
        std::getenv("XDG_RUNTIME_DIR"), display, std::filesystem::path(settingsPath).parent_path().string()));
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
    const auto tell = [&framework](std::string text) {
        std::fprintf(stderr, "quellan: %s\n", text.c_str());
        if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
        framework->showNotice(text);
    };
    framework->setAnotherStartHandler([&tell] { tell("Quellan is already running; its menu is behind this icon."); });
    auto connected = x11::X11Desktop::connect();
    if (!connected.desktop) {
        std::fprintf(stderr, "quellan: %s\n", connected.error.c_str());
        return 1;
    }
    x11::X11Desktop& desktop = *connected.desktop;
    // Both access rows of the menu, and the start without access, explain what is missing.
    desktop.setTrustPromptHandler([&tell] { tell(kNoWindowManagerHelp); });
    desktop.setAddressHandler([&tell](std::string_view) {
        tell(kNoWindowManagerHelp);
        return true;
    });
    desktop.setNoticeHandler(tell);
    desktop.setOwnWindows([&framework] { return framework->ownWindowIds(); });
    // Focus changes are read as they happen, so one shorter than a scan still counts.
    const auto watch = qt::watchReadable(desktop.eventDescriptor(), [&desktop] { desktop.processEvents(); });

    auto runLoop = qt::makeRunLoop();
    clock::SystemClock systemClock;
    platform::Backends backends = desktop.backends();
    backends.clock = &systemClock;
    backends.runLoop = runLoop.get();
    platform::ScopedBackends installed(backends);
    appkit::installFramework(framework.get());
    std::shared_ptr<platform::UserDefaults> defaults = qt::makeUserDefaults(settingsPath, tell);
    for (const std::string& problem : WindowMonitor::unusableStoredSettings(*defaults))
        tell(problem);
    platform::installStandardUserDefaults(std::move(defaults));

    const int status = runApplication();

    platform::installStandardUserDefaults(nullptr);
    appkit::installFramework(nullptr);
    return status;
}
