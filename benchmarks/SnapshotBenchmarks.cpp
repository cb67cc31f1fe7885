// Cost of a snapshot plus the scan over it through the simulated
// accessibility layer, by window and application count, with the platform
// calls one snapshot makes.
#include "Platform/simulated/SimulatedDesktop.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"
#include "Quellan/WindowMonitor.hpp"

#include <benchmark/benchmark.h>

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

} // namespace
} // namespace quellan
