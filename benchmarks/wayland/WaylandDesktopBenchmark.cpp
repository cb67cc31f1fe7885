// Quellan on headless KWin: what one snapshot costs with 5 and 50 windows
// (the backend reads its own model of the toplevels, kept up to date by
// events, so no request goes to the compositor), how long KWin takes to
// confirm a minimize request, and the real program's CPU use while nothing
// changes (ten windows, limit ten, its icon in a status notifier panel;
// QUELLAN_IDLE_SECONDS, 20 by default).
#include "../e2e/ProcessCpu.hpp"
#include "PanelSession.hpp"
#include "Platform/wayland/WaylandDesktop.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"
#include "WaylandSession.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace quellan::wayland::testing {
namespace {

using x11::testing::waitUntil;

std::vector<std::string> titles(const std::string& prefix, int count) {
    std::vector<std::string> all;
    for (int i = 0; i < count; ++i)
        all.push_back(prefix + std::to_string(i));
    return all;
}

void Snapshot(benchmark::State& state) {
    std::string error;
    auto session = WaylandSession::start(Compositor::kwin, error);
    auto windows =
        session ? session->startWindows("bench", titles("w", static_cast<int>(state.range(0))), error) : nullptr;
    auto connected = WaylandDesktop::connect(session ? session->display() : "");
    if (!windows || !connected.desktop) return state.SkipWithError((error + connected.error).c_str());
    WaylandDesktop& desktop = *connected.desktop;
    const platform::ScopedBackends installed(desktop.backends());
    std::size_t listed = 0;
    for (auto _ : state) {
        const WindowSnapshot snapshot = AccessibilityWindowSource().snapshot();
        listed = snapshot.windows.size();
        benchmark::DoNotOptimize(snapshot);
    }
    state.counters["windows"] = static_cast<double>(listed);
}

void MinimizeConfirmed(benchmark::State& state) {
    std::string error;
    auto session = WaylandSession::start(Compositor::kwin, error);
    auto windows = session ? session->startWindows("bench", titles("m", 40), error) : nullptr;
    auto connected = WaylandDesktop::connect(session ? session->display() : "");
    if (!windows || !connected.desktop) return state.SkipWithError((error + connected.error).c_str());
    WaylandDesktop& desktop = *connected.desktop;
    const platform::ScopedBackends installed(desktop.backends());
    double polls = 0;
    for (auto _ : state) {
        std::uint64_t key = 0;
        auto start = std::chrono::steady_clock::now();
        // A look that finds the compositor still reading what the last one
        // asked asks nothing; the program's next look asks again.
        for (int looks = 0; key == 0; ++looks) {
            auto listed = AccessibilityWindowSource().snapshot().windows;
            if (listed.empty() || looks == 1000) return state.SkipWithError("no window minimized");
            start = std::chrono::steady_clock::now();
            if (ax::setAttributeValue(listed.back().element, ax::kMinimizedAttribute, ax::Value::boolean(true)) ==
                ax::kSuccess) {
                key = ax::hash(listed.back().element);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        const auto confirmed = [&] {
            desktop.processEvents();
            for (const auto& toplevel : desktop.toplevels())
                if (toplevel.key == key) return toplevel.minimized;
            return true;
        };
        while (!confirmed()) {
            ++polls;
            std::this_thread::yield();
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    // Reads of the connection before the answer was there: more than none shows a real wait.
    state.counters["pollsPerRequest"] = polls / static_cast<double>(state.iterations());
}

void Idle(benchmark::State& state) {
    const char* seconds = std::getenv("QUELLAN_IDLE_SECONDS");
    const auto measured = std::chrono::duration<double>(seconds ? std::strtod(seconds, nullptr) : 20.0);
    std::string error;
    auto session = WaylandSession::start(Compositor::kwin, error);
    auto server = session ? x11::testing::XServer::start(error) : nullptr;
    auto panel = server ? e2e::PanelHost::start(server->display(), session->home() + "/panel", error) : nullptr;
    auto windows = panel ? session->startWindows("bench", titles("i", 10), error) : nullptr;
    if (!windows) return state.SkipWithError(error.c_str());
    std::filesystem::create_directories(session->home() + "/config/quellan");
    std::ofstream(session->home() + "/config/quellan/quellan.conf") << "windowLimit = 10\n";
    auto quellan = session->startProgram({QUELLAN_PROGRAM}, error,
                                         {.environment = {{"DBUS_SESSION_BUS_ADDRESS", panel->busAddress()}}});
    if (!quellan || !waitUntil([&] { return panel->findItem(); }, std::chrono::seconds(30)))
        return state.SkipWithError("no icon");
    std::this_thread::sleep_for(std::chrono::seconds(3)); // past the start
    benchmarks::Usage idle;
    for (auto _ : state) {
        idle = benchmarks::measureUsage(quellan->pid(), 0, measured);
        state.SetIterationTime(idle.seconds);
    }
    if (!quellan->running()) return state.SkipWithError("quellan ended while idle");
    state.counters["cpuPercentOfACore"] = idle.cpuPercent;
    state.counters["wakeupsPerMinute"] = idle.wakeupsPerMinute;
}

BENCHMARK(Snapshot)->Arg(5)->Arg(50)->Unit(benchmark::kMicrosecond);
BENCHMARK(MinimizeConfirmed)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Idle)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
} // namespace quellan::wayland::testing

BENCHMARK_MAIN();
