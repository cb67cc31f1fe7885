// Cost of one scan over the simulated desktop, by window count.
#include "Platform/simulated/SimulatedDesktop.hpp"
#include "Quellan/WindowMonitor.hpp"

#include <benchmark/benchmark.h>

namespace quellan {
namespace {

/// Hands out the same prepared snapshot every time, so only the scan is measured.
class PreparedSource final : public WindowSource {
public:
    WindowSnapshot prepared;
    WindowSnapshot snapshot() override { return prepared; }
};

/// `retitle`: one window's title changes before every scan, so the rows
/// are sorted afresh each time instead of keeping the last order.
void scanBenchmark(benchmark::State& state, bool retitle) {
    const auto windowCount = static_cast<int>(state.range(0));
    simulated::SimulatedDesktop desktop;
    desktop.logCalls = false;
    platform::ScopedBackends installed(desktop.backends());
    auto source = std::make_shared<PreparedSource>();
    for (int i = 0; i < windowCount; ++i) {
        const std::int32_t pid = 1000 + i % 25;
        if (i < 25) desktop.addApplication(pid, "Application " + std::to_string(i));
        const auto& window = desktop.addWindow(pid, "Document " + std::to_string(i));
        source->prepared.windows.push_back(ManagedWindow{
            windowIdentifier(pid, window.hash), desktop.makeWindowElement(window.id),
            "Application " + std::to_string(i % 25), "Document " + std::to_string(i), std::nullopt, std::nullopt});
    }
    auto monitor = WindowMonitor::create(source, std::make_shared<platform::InMemoryUserDefaults>());
    monitor->limit = windowCount; // a steady desktop: nothing over the limit
    monitor->inactiveMinutes = 60;
    int publications = 0;
    monitor->onStateChange = [&](const MonitorState&) { ++publications; };

    std::size_t focus = 0;
    for (auto _ : state) {
        // Focus moves and time passes as between real ticks.
        source->prepared.currentWindowID = source->prepared.windows[focus].id;
        focus = (focus + 7) % source->prepared.windows.size();
        if (retitle) source->prepared.windows[focus].title += "*";
        desktop.advance(0.35);
        monitor->scanNow();
    }
    state.counters["publications"] = benchmark::Counter(publications, benchmark::Counter::kAvgIterations);
    state.SetComplexityN(windowCount);
    monitor.reset();
    source.reset();
}
void BM_ScanNow(benchmark::State& state) { scanBenchmark(state, false); }
void BM_ScanNowWithTitleChanges(benchmark::State& state) { scanBenchmark(state, true); }
BENCHMARK(BM_ScanNow)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond)->Complexity(benchmark::oNLogN);
BENCHMARK(BM_ScanNowWithTitleChanges)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oNLogN);

} // namespace
} // namespace quellan
