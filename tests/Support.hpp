// Test scaffolding shared by the monitor tests: a simulated desktop
// installed for the test's duration, watched by the real window source.
#pragma once

#include "Platform/Platform.hpp"
#include "Platform/UserDefaults.hpp"
#include "Platform/simulated/SimulatedDesktop.hpp"
#include "Platform/simulated/SimulatedRunLoop.hpp"
#include "Quellan/WindowMonitor.hpp"

#include <memory>
#include <vector>

namespace quellan {

/// Reads the monitor's private tables.
struct WindowMonitorTestAccess {
    static const WindowMonitor::TableByWindowID<double>& lastTouched(const WindowMonitor& monitor) {
        return monitor.lastTouchedByWindowID_;
    }
    static const WindowMonitor::TableByWindowID<double>& openedAt(const WindowMonitor& monitor) {
        return monitor.openedAtByWindowID_;
    }
};

namespace testing_support {

inline platform::Backends withRunLoop(simulated::SimulatedDesktop& desktop, platform::RunLoop& runLoop) {
    platform::Backends backends = desktop.backends();
    backends.runLoop = &runLoop;
    return backends;
}

/// A desktop with two applications whose names sort against their process
/// ids, and a monitor over it, with every published state kept.
struct MonitorFixture {
    simulated::SimulatedDesktop desktop;
    simulated::SimulatedRunLoop runLoop{desktop.time};
    platform::ScopedBackends installed{withRunLoop(desktop, runLoop)};
    std::shared_ptr<platform::InMemoryUserDefaults> defaults = std::make_shared<platform::InMemoryUserDefaults>();
    std::shared_ptr<WindowMonitor> monitor =
        WindowMonitor::create(std::make_shared<AccessibilityWindowSource>(), defaults);
    std::vector<MonitorState> published;

    MonitorFixture() {
        monitor->onStateChange = [this](const MonitorState& state) { published.push_back(state); };
        desktop.addApplication(100, "Notes");
        desktop.addApplication(200, "mail");
    }
    ~MonitorFixture() { monitor->stop(); }

    simulated::WindowID open(std::int32_t pid, std::string title) { return desktop.addWindow(pid, title).id; }
    std::string idOf(simulated::WindowID window) {
        return windowIdentifier(desktop.window(window).processIdentifier, desktop.window(window).hash);
    }
    bool isMinimized(simulated::WindowID window) {
        const bool* flag = std::get_if<bool>(&desktop.window(window).minimized.value);
        return flag && *flag;
    }
    std::vector<std::string> rowIDs() const {
        std::vector<std::string> ids;
        for (const auto& row : published.back().activeWindows)
            ids.push_back(row.id);
        return ids;
    }
    const MonitorState& last() const { return published.back(); }
};

} // namespace testing_support
} // namespace quellan
