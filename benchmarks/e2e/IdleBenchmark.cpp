// What Quellan costs while a person works and nothing changes: the real
// program on Xvfb with openbox and trayer, ten normal windows open and the
// limit at ten, so that every scan reads and weighs all ten. Reports its
// CPU use (all threads), the X server's over the same time (it answers
// every scan), and the program's memory. QUELLAN_IDLE_SECONDS sets the
// measured time (60 by default).
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
using benchmarks::cpuNanoseconds;

/// A "Name:   value kB" line of a /proc status file, in KiB.
double statusField(const std::string& file, const std::string& name) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0) return std::strtod(line.c_str() + name.size() + 1, nullptr);
    }
    return 0;
}

void Idle(benchmark::State& state) {
    const auto windowCount = static_cast<int>(state.range(0));
    const char* seconds = std::getenv("QUELLAN_IDLE_SECONDS");
    const auto measured = std::chrono::duration<double>(seconds ? std::strtod(seconds, nullptr) : 60.0);

    std::string error;
    auto session = DesktopSession::start("openbox", error);
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

    const pid_t pid = quellan->pid();
    double cpu = 0, serverCpu = 0, wall = 0;
    for (auto _ : state) {
        const double cpuBefore = cpuNanoseconds(pid), serverBefore = cpuNanoseconds(session->server().pid());
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(measured);
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu = cpuNanoseconds(pid) - cpuBefore;
        serverCpu = cpuNanoseconds(session->server().pid()) - serverBefore;
        state.SetIterationTime(wall);
    }
    if (!quellan->running()) {
        state.SkipWithError("quellan ended while idle");
        return;
    }
    const std::string status = "/proc/" + std::to_string(pid) + "/status";
    const auto visible = std::ranges::count_if(
        windows, [&](WindowId window) { return session->probe().wmState(window).value_or(0) == 1; });
    state.counters["cpuPercentOfACore"] = cpu / 1e9 / wall * 100;
    state.counters["xServerCpuPercent"] = serverCpu / 1e9 / wall * 100;
    state.counters["cpuMsPerScan"] = cpu / 1e6 / (wall / 0.35);
    state.counters["rssKiB"] = statusField(status, "VmRSS");
    state.counters["peakRssKiB"] = statusField(status, "VmHWM");
    state.counters["pssKiB"] = statusField("/proc/" + std::to_string(pid) + "/smaps_rollup", "Pss");
    state.counters["visibleWindows"] = static_cast<double>(visible);
}

BENCHMARK(Idle)->Arg(10)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
} // namespace quellan::e2e

BENCHMARK_MAIN();
