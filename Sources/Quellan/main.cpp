// Entry point of the Linux desktop port: X11 windows, the Qt tray, the
// settings file, then the program itself.
#include "Platform/Clock.hpp"
#include "Platform/Platform.hpp"
#include "Platform/qt/QtDesktop.hpp"
#include "Platform/x11/X11Desktop.hpp"
#include "Quellan/Launch.hpp"

#include <cstdio>
#include <cstdlib>

namespace {

// On X11 nothing needs granting: windows are visible to any client once the
// window manager publishes them. What stands in for missing access is a
// window manager without the EWMH client list and active window.
constexpr const char* kNoWindowManagerHelp =
    "quellan: the window manager does not publish its client list and active window (EWMH), so Quellan cannot see "
    "any windows. Use an EWMH window manager such as Openbox, Xfwm4, KWin, Mutter, Fluxbox or IceWM; Quellan picks "
    "it up by itself once it runs.\n";

} // namespace

int main(int argc, char** argv) {
    using namespace quellan;
    if (std::getenv("DISPLAY") == nullptr || *std::getenv("DISPLAY") == '\0') {
        std::fputs("quellan: no X display (DISPLAY is not set); start Quellan from a desktop session.\n", stderr);
        return 1;
    }
    // The framework first: it owns the QApplication the other Qt parts need.
    auto framework = qt::makeFramework(argc, argv);
    if (!framework) return 1;
    auto connected = x11::X11Desktop::connect();
    if (!connected.desktop) {
        std::fprintf(stderr, "quellan: %s\n", connected.error.c_str());
        return 1;
    }
    x11::X11Desktop& desktop = *connected.desktop;
    desktop.setTrustPromptHandler([] { std::fputs(kNoWindowManagerHelp, stderr); });
    desktop.setAddressHandler([](std::string_view) {
        std::fputs(kNoWindowManagerHelp, stderr);
        return true;
    });

    desktop.setNoticeHandler([&framework](const std::string& text) {
        std::fprintf(stderr, "quellan: %s\n", text.c_str());
        framework->showNotice(text);
    });
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
    platform::installStandardUserDefaults(qt::makeUserDefaults(qt::defaultSettingsPath()));

    const int status = runApplication();

    platform::installStandardUserDefaults(nullptr);
    appkit::installFramework(nullptr);
    return status;
}
