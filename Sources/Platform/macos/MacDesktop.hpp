// The macOS desktop: windows through the accessibility API, applications
// through NSWorkspace, the menu bar status item and its menus, main run
// loop timers, NSUserDefaults and Foundation's collation.
//
// No Apple header is included here, so the entry point stays plain C++:
//
//     int main() {
//         auto framework = quellan::mac::makeFramework();   // NSApplication first
//         auto accessibility = quellan::mac::makeAccessibility();
//         auto workspace = quellan::mac::makeWorkspace();
//         auto runLoop = quellan::mac::makeRunLoop();
//         ... install them with a clock and the user defaults, then
//         return quellan::runApplication();
//     }
//
// makeFramework()
//     NSApplication, with a delegate object that forwards launch and
//     termination to the layer's delegate. Status items are NSStatusItems in
//     the menu bar; their menus are rebuilt from the plain menu values, with
//     autoenablesItems off so the model's enabled flags hold. Choosing an
//     item sends its action to the item's MenuTarget. A menu that is open
//     stays as it is while newer models arrive; the newest replaces it once
//     it closes, after the chosen action (if any) has been sent.
//     terminate() calls the delegate's applicationWillTerminate and then
//     stops the event loop, so run() returns to main. A quit that comes from
//     the system (log out, restart, Quit in Activity Monitor) goes
//     through NSApplication's own termination, which tells the delegate the
//     same once and then ends the process. SIGTERM, SIGINT and SIGHUP end
//     the program through terminate().
// makeAccessibility()
//     AXUIElement references as the layer's counted elements (the token is
//     the CFTypeRef; retain and release are CFRetain and CFRelease). AXError
//     codes are passed through unchanged: the layer's codes are AX's own
//     numbers. Values convert as CFString to text, CFBoolean to boolean,
//     CFNumber to number, AXUIElement to element and CFArray to a list;
//     anything else (AXValue geometry, dates, URLs) reads as null.
//     Every call waits at most 0.5 s for an application to answer (the
//     system's own default is 6 s): the scan runs on the main thread every
//     0.35 s, so one hung application would otherwise freeze the menu. The
//     window source leaves an application that runs into it out of its
//     scans for a growing pause.
// makeWorkspace()
//     NSWorkspace's frontmost and running applications, NSWorkspace openURL
//     for addresses, NSProcessInfo for the process identifier.
// makeRunLoop()
//     NSTimers on the main run loop. addTimer with commonModes adds the
//     timer to NSRunLoopCommonModes too, so it ticks while a menu is open
//     (the menu tracks in NSEventTrackingRunLoopMode). While it exists, an
//     NSProcessInfo activity keeps App Nap from stretching the timers,
//     without keeping the machine from idle sleep.
// makeUserDefaults()
//     NSUserDefaults standardUserDefaults: the domain of the bundle
//     identifier (org.quellan.Quellan) when run from the bundle.
//
// Every call must be made on the main thread.
#pragma once

#include "Platform/Accessibility.hpp"
#include "Platform/AppKit.hpp"
#include "Platform/RunLoop.hpp"
#include "Platform/UserDefaults.hpp"
#include "Platform/Workspace.hpp"

#include <memory>

namespace quellan::mac {

/// The framework backend; there is one NSApplication, so make one of these.
std::unique_ptr<appkit::FrameworkBackend> makeFramework();
std::unique_ptr<ax::AccessibilityBackend> makeAccessibility();
std::unique_ptr<workspace::WorkspaceBackend> makeWorkspace();
std::unique_ptr<platform::RunLoop> makeRunLoop();
std::unique_ptr<platform::UserDefaults> makeUserDefaults();

} // namespace quellan::mac
