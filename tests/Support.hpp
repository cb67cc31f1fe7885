// Test scaffolding shared by the monitor tests: a simulated desktop
// installed for the test's duration and a window source scripted over it.
#pragma once

#include "Platform/Platform.hpp"
#include "Platform/UserDefaults.hpp"
#include "Platform/simulated/SimulatedDesktop.hpp"
#include "Platform/simulated/SimulatedRunLoop.hpp"
#include "Quellan/WindowMonitor.hpp"

#include <functional>
#include <map>
#include <memory>
#include <optional>
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
    static std::optional<MonitorState> lastState(const WindowMonitor& monitor) {
        if (!monitor.lastState_) return std::nullopt;
        return *monitor.lastState_;
    }
    static const std::shared_ptr<platform::Timer>& timer(const WindowMonitor& monitor) { return monitor.timer_; }
};

namespace testing_support {

/// Lists the scripted windows that still exist and are not minimized, in
/// the scripted order, and `current` when it is listed.
class ScriptedSource final : public WindowSource {
public:
    explicit ScriptedSource(simulated::SimulatedDesktop& desktop) : desktop_(desktop) {}

    std::vector<simulated::WindowID> windows;
    std::optional<simulated::WindowID> current;
    /// Records added after the scripted ones, as they are (duplicates, strays).
    std::vector<ManagedWindow> extraRecords;
    std::optional<std::string> currentOverride;
    /// Application names by process id; "App <pid>" otherwise.
    std::map<std::int32_t, std::string> applicationNames;
    /// Runs in the middle of every snapshot.
    std::function<void()> duringSnapshot;
    int snapshots = 0;

    static std::string idOf(simulated::SimulatedDesktop& desktop, simulated::WindowID window) {
        const auto& w = desktop.window(window);
        return windowIdentifier(w.processIdentifier, w.hash);
    }

    WindowSnapshot snapshot() override {
        ++snapshots;
        WindowSnapshot snapshot;
        for (const auto window : windows) {
            if (!desktop_.hasWindow(window)) continue;
            const auto& w = desktop_.window(window);
            if (const bool* minimized = std::get_if<bool>(&w.minimized.value); minimized && *minimized) continue;
            const std::string* title = std::get_if<std::string>(&w.title.value);
            const auto name = applicationNames.find(w.processIdentifier);
            snapshot.windows.push_back(ManagedWindow{
                idOf(desktop_, window), desktop_.makeWindowElement(window),
                name != applicationNames.end() ? name->second : "App " + std::to_string(w.processIdentifier),
                title ? *title : "Untitled Window"});
            if (current == window) snapshot.currentWindowID = snapshot.windows.back().id;
        }
        if (duringSnapshot) duringSnapshot();
        for (const auto& record : extraRecords)
            snapshot.windows.push_back(record);
        if (currentOverride) snapshot.currentWindowID = currentOverride;
        return snapshot;
    }

private:
    simulated::SimulatedDesktop& desktop_;
};

inline platform::Backends withRunLoop(simulated::SimulatedDesktop& desktop, platform::RunLoop& runLoop) {
    platform::Backends backends = desktop.backends();
    backends.runLoop = &runLoop;
    return backends;
}

/// A desktop, a scripted source and a monitor, with every published state kept.
struct MonitorFixture {
    simulated::SimulatedDesktop desktop;
    simulated::SimulatedRunLoop runLoop{desktop.time};
    platform::ScopedBackends installed{withRunLoop(desktop, runLoop)};
    std::shared_ptr<ScriptedSource> source = std::make_shared<ScriptedSource>(desktop);
    std::shared_ptr<platform::InMemoryUserDefaults> defaults = std::make_shared<platform::InMemoryUserDefaults>();
    std::shared_ptr<WindowMonitor> monitor = WindowMonitor::create(source, defaults);
    std::vector<MonitorState> published;

    MonitorFixture() {
        monitor->onStateChange = [this](const MonitorState& state) { published.push_back(state); };
        desktop.addApplication(100, "Alpha");
        desktop.addApplication(200, "Beta");
    }
    ~MonitorFixture() {
        if (monitor) monitor->stop();
        monitor.reset();
    }

    simulated::WindowID open(std::int32_t pid, std::string title) {
        const auto id = desktop.addWindow(pid, std::move(title)).id;
        source->windows.push_back(id);
        return id;
    }
    std::string idOf(simulated::WindowID window) { return ScriptedSource::idOf(desktop, window); }
    bool isMinimized(simulated::WindowID window) {
        const bool* flag = std::get_if<bool>(&desktop.window(window).minimized.value);
        return flag && *flag;
    }
    const MonitorState& last() const { return published.back(); }
};

} // namespace testing_support
} // namespace quellan
