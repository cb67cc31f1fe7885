// Cost of a snapshot plus the scan over it through the simulated
// accessibility layer, by window and application count, with the platform
// calls one snapshot makes; and what a hung application costs the main thread.
#include "Platform/simulated/SimulatedDesktop.hpp"
#include "Platform/simulated/SimulatedRunLoop.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"
#include "Quellan/WindowMonitor.hpp"

#include <benchmark/benchmark.h>

#include <chrono>

namespace quellan {
namespace {

void BM_SnapshotAndScan(benchmark::State& state) {
    const auto windowCount = static_cast<int>(state.range(0));
    const auto applicationCount = static_cast<int>(state.range(1));
    simulated::SimulatedDesktop desktop;
    desktop.logCalls = false;
    platform::ScopedBackends installed(desktop.backends());
    for (int a = 0; a < applicationCount; ++a)
        desktop.addApplication(1000 + a, "Application " + std::to_string(a));
    std::vector<simulated::WindowID> windows;
    for (int i = 0; i < windowCount; ++i)
        windows.push_back(desktop.addWindow(1000 + i % applicationCount, "Document " + std::to_string(i)).id);

    auto source = std::make_shared<AccessibilityWindowSource>();
    auto monitor = WindowMonitor::create(source, std::make_shared<platform::InMemoryUserDefaults>());
    // Nothing over the limit, and focus comes round to every window well
    // within the inactivity period: the desktop stays as it is.
    monitor->limit = windowCount;
    monitor->inactiveMinutes = 60;

    std::size_t focus = 0;
    for (auto _ : state) {
        desktop.focus(windows[focus]);
        focus = (focus + 7) % windows.size();
        desktop.advance(0.35);
        monitor->scanNow();
    }

    // One more snapshot, counted on its own, for the call budget.
    desktop.resetCounts();
    const WindowSnapshot snapshot = source->snapshot();
    const auto& counts = desktop.counts();
    state.counters["listed"] = static_cast<double>(snapshot.windows.size());
    state.counters["createApp"] = counts.createApplication;
    state.counters["copies"] = counts.copyAttributeValue;
    state.counters["settable"] = counts.isAttributeSettable;
    state.counters["hashes"] = counts.hash;
    state.counters["equals"] = counts.equal;
    state.SetComplexityN(windowCount);
}
BENCHMARK(BM_SnapshotAndScan)->ArgsProduct({{10, 100, 1000}, {1, 10, 50}})->Unit(benchmark::kMicrosecond);

/// Ten applications with three windows each; the frontmost one hangs for
/// ten minutes, every call to it taking the whole messaging timeout. The
/// main thread's busy time is that waiting plus the scans' own work,
/// measured in real time.
void BM_HungFrontmostApplication(benchmark::State& state) {
    double firstMinute = 0, tenMinutes = 0;
    for (auto _ : state) {
        simulated::SimulatedDesktop desktop;
        desktop.logCalls = false;
        simulated::SimulatedRunLoop runLoop(desktop.time);
        platform::Backends backends = desktop.backends();
        backends.runLoop = &runLoop;
        platform::ScopedBackends installed(backends);
        for (int a = 0; a < 10; ++a) {
            desktop.addApplication(1000 + a, "Application " + std::to_string(a));
            for (int w = 0; w < 3; ++w)
                desktop.addWindow(1000 + a, "Document " + std::to_string(w));
        }
        desktop.focus(desktop.application(1000).windows.front());
        auto monitor = WindowMonitor::create(std::make_shared<AccessibilityWindowSource>(),
                                             std::make_shared<platform::InMemoryUserDefaults>());
        monitor->limit = 10;
        monitor->start();
        runLoop.advance(5);
        desktop.application(1000).hangs = true;

        double working = 0;
        const auto run = [&](double seconds) {
            const auto started = std::chrono::steady_clock::now();
            runLoop.advance(seconds);
            working += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            return desktop.waitedSeconds() + working; // since the hang began
        };
        firstMinute = run(60) / 60;
        tenMinutes = run(540) / 600;
        monitor->stop();
    }
    // Without the pause every scan would wait out the timeout: 1000 ms a second.
    state.counters["busyMsPerSecondFirstMinute"] = firstMinute * 1000;
    state.counters["busyMsPerSecondTenMinutes"] = tenMinutes * 1000;
}
BENCHMARK(BM_HungFrontmostApplication)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quellan
