// What Quellan costs while a person works and nothing changes: the real
// program on Xvfb with openbox and a tray (trayer, or a status notifier
// panel), ten normal windows open and the limit at ten. Reports its CPU use
// (all threads), how often its main thread woke, the X server's CPU over the
// same time, and the program's memory; with the panel, also the CPU while
// the panel holds the menu open, when every scan runs. QUELLAN_IDLE_SECONDS
// sets each measured time (60 by default).
#include "DesktopSession.hpp"
#include "ProcessCpu.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace quellan::e2e {
namespace {

using namespace std::chrono_literals;
using namespace x11::testing;
using benchmarks::measureUsage;
using benchmarks::Usage;

/// A "Name:   value kB" line of a /proc status file, in KiB.
double statusField(const std::string& file, const std::string& name) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0) return std::strtod(line.c_str() + name.size() + 1, nullptr);
    }
    return 0;
}

void Idle(benchmark::State& state, const std::string& desktop) {
    constexpr int windowCount = 10;
    const char* seconds = std::getenv("QUELLAN_IDLE_SECONDS");
    const auto measured = std::chrono::duration<double>(seconds ? std::strtod(seconds, nullptr) : 60.0);

    std::string error;
    auto session = DesktopSession::start(desktop, error);
    if (!session) {
        state.SkipWithError(error.c_str());
        return;
    }
    session->writeSettings("windowLimit = 10\n");
    auto quellan = session->startQuellan(error);
    if (!quellan) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<WindowId> windows;
    for (int i = 0; i < windowCount; ++i) {
        const WindowId window = session->probe().create("title=window-" + std::to_string(i));
        if (window == 0 || !session->probe().waitManaged(window)) {
            state.SkipWithError("a window was not managed");
            return;
        }
        windows.push_back(window);
    }
    session->probe().activate(windows.back());
    // Past the start and the first scans with the new windows.
    std::this_thread::sleep_for(3s);

    const pid_t pid = quellan->pid(), server = session->server().pid();
    Usage idle, menuOpen;
    for (auto _ : state) {
        idle = measureUsage(pid, server, measured);
        state.SetIterationTime(idle.seconds);
    }
    if (PanelHost* panel = session->panel()) {
        // Held open, as by a person reading it: every scan runs and publishes.
        if (panel->menu().empty()) return state.SkipWithError("the panel could not open the menu");
        menuOpen = measureUsage(pid, server, measured);
        panel->closeMenu();
    }
    if (!quellan->running()) {
        state.SkipWithError("quellan ended while idle");
        return;
    }
    const std::string status = "/proc/" + std::to_string(pid) + "/status";
    const auto visible = std::ranges::count_if(
        windows, [&](WindowId window) { return session->probe().wmState(window).value_or(0) == 1; });
    state.counters["cpuPercentOfACore"] = idle.cpuPercent;
    state.counters["xServerCpuPercent"] = idle.serverCpuPercent;
    state.counters["wakeupsPerMinute"] = idle.wakeupsPerMinute;
    if (session->panel()) {
        state.counters["menuOpenCpuPercent"] = menuOpen.cpuPercent;
        state.counters["menuOpenWakeupsPerMinute"] = menuOpen.wakeupsPerMinute;
    }
    state.counters["rssKiB"] = statusField(status, "VmRSS");
    state.counters["peakRssKiB"] = statusField(status, "VmHWM");
    state.counters["pssKiB"] = statusField("/proc/" + std::to_string(pid) + "/smaps_rollup", "Pss");
    state.counters["visibleWindows"] = static_cast<double>(visible);
}

BENCHMARK_CAPTURE(Idle, trayer, std::string("openbox"))->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Idle, statusNotifierPanel, std::string("openbox+xfce4-panel"))
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

} // namespace
} // namespace quellan::e2e

BENCHMARK_MAIN();
