// Entry point of the macOS port: the accessibility API for windows, the
// menu bar status item, NSUserDefaults for the settings, then the program.
// Plain C++: everything Apple stays behind MacDesktop.hpp.
#include "Platform/Clock.hpp"
#include "Platform/Platform.hpp"
#include "Platform/macos/MacDesktop.hpp"
#include "Quellan/Launch.hpp"

int main() {
    using namespace quellan;
    // The framework first: it makes NSApp, which the status bar needs.
    auto framework = mac::makeFramework();
    auto accessibility = mac::makeAccessibility();
    auto workspace = mac::makeWorkspace();
    auto runLoop = mac::makeRunLoop();
    // Without the accessibility permission the program still starts: its
    // menu says what is missing and offers the system's prompt and settings.
    platform::ScopedBackends installed(platform::Backends{
        .accessibility = accessibility.get(),
        .workspace = workspace.get(),
        .clock = &clock::systemClock(),
        .runLoop = runLoop.get(),
    });
    appkit::installFramework(framework.get());
    platform::installStandardUserDefaults(mac::makeUserDefaults());

    const int status = runApplication();

    platform::installStandardUserDefaults(nullptr);
    appkit::installFramework(nullptr);
    return status;
}
