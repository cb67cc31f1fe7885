// The real program on a headless GNOME Shell 43 through its Shell
// extension: how long after a plain new window is shown the least recently
// used window is minimized (limit three), both read off the shell's own
// clock, and the program's CPU use while nothing changes (ten windows, limit
// ten, its icon through the AppIndicator extension; QUELLAN_IDLE_SECONDS,
// 20 by default).
#include "../e2e/ProcessCpu.hpp"
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

/// A shell with Quellan's extension and the AppIndicator one, and Quellan at `limit`.
struct Desktop {
    std::unique_ptr<WaylandSession> session;
    std::unique_ptr<Process> quellan;
    std::vector<std::unique_ptr<Process>> windows;
    std::string error;

    explicit Desktop(int limit, int windowCount) {
        session = WaylandSession::start(Compositor::gnome, error,
                                        {.extensionFolders = {QUELLAN_GNOME_EXTENSION},
                                         .enabledExtensions = {"quellan@quellan.org"},
                                         .appIndicator = true,
                                         .environment = {{"QUELLAN_TEST_CALLER", QUELLAN_PROGRAM}}});
        if (!session) return;
        for (int i = 0; i < windowCount; ++i)
            if (!open("w" + std::to_string(i))) return;
        std::filesystem::create_directories(session->home() + "/config/quellan");
        std::ofstream(session->home() + "/config/quellan/quellan.conf") << "windowLimit = " << limit << "\n";
        quellan = session->startProgram({QUELLAN_PROGRAM}, error);
    }
    bool open(const std::string& title) {
        return windows.emplace_back(session->startWindows("bench." + title, {title}, error)) != nullptr;
    }
    std::string eval(const std::string& code) { return session->eval(code, error).value_or(""); }
};

void NewWindowToIconic(benchmark::State& state) {
    Desktop desktop(3, 3);
    if (!desktop.quellan) return state.SkipWithError(desktop.error.c_str());
    // The shell notes, on its own clock, when each window is first shown and when one is minimized.
    const std::string watch = "(() => { const GLib = imports.gi.GLib; global.quellanBench = {};"
                              " const note = w => w.connect('notify::minimized', () => { if (w.minimized)"
                              "   global.quellanBench.minimized = GLib.get_monotonic_time(); });"
                              " global.display.list_all_windows().forEach(note);"
                              " global.display.connect('window-created', (d, w) => { note(w);"
                              "   w.connect('shown', () => global.quellanBench.shown = GLib.get_monotonic_time()); });"
                              " return true; })()";
    if (desktop.eval(watch) != "true") return state.SkipWithError(desktop.error.c_str());
    int round = 0;
    for (auto _ : state) {
        desktop.eval("global.quellanBench = {}");
        if (!desktop.open("n" + std::to_string(round++))) return state.SkipWithError(desktop.error.c_str());
        std::string spent;
        if (!waitUntil(
                [&] {
                    spent = desktop.eval("global.quellanBench.minimized - global.quellanBench.shown");
                    return !spent.empty() && spent != "NaN";
                },
                std::chrono::seconds(20)))
            return state.SkipWithError("no window minimized");
        state.SetIterationTime(std::strtod(spent.c_str(), nullptr) / 1e6);
    }
}

void Idle(benchmark::State& state) {
    const char* seconds = std::getenv("QUELLAN_IDLE_SECONDS");
    const auto measured = std::chrono::duration<double>(seconds ? std::strtod(seconds, nullptr) : 20.0);
    Desktop desktop(10, 10);
    if (!desktop.quellan) return state.SkipWithError(desktop.error.c_str());
    std::this_thread::sleep_for(std::chrono::seconds(3)); // past the start
    benchmarks::Usage idle;
    for (auto _ : state) {
        idle = benchmarks::measureUsage(desktop.quellan->pid(), 0, measured);
        state.SetIterationTime(idle.seconds);
    }
    if (!desktop.quellan->running()) return state.SkipWithError("quellan ended while idle");
    state.counters["cpuPercentOfACore"] = idle.cpuPercent;
    state.counters["wakeupsPerMinute"] = idle.wakeupsPerMinute;
}

BENCHMARK(NewWindowToIconic)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Idle)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
} // namespace quellan::wayland::testing

BENCHMARK_MAIN();
