// How often the right window is minimized when a person goes back to an
// older window and opens a new one at once, within one tick: the real
// program on Xvfb with openbox and trayer, the limit at three. Each round
// the window after the one just used, in least-recently-focused order, must
// go, and the one just used must stay. How soon a plain new window is
// handled is the new-window benchmark's part.
// QUELLAN_FAST_SWITCH_ROUNDS sets the rounds (20 by default).
#include "Running.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <thread>

namespace quellan::e2e {
namespace {

using namespace std::chrono_literals;
using namespace x11::testing;

void FastSwitch(benchmark::State& state) {
    std::string error;
    auto [session, quellan] = startQuellanOn("openbox", "windowLimit = 3\n", error);
    if (!quellan) return state.SkipWithError(error.c_str());
    Probe& probe = session->probe();
    const auto iconic = [&](WindowId window) { return probe.wmState(window) == 3u; };
    const auto openFocused = [&](const std::string& title) {
        const WindowId window = probe.create("title=" + title);
        probe.waitManaged(window);
        probe.activate(window);
        waitUntil([&] { return probe.activeWindow() == window; });
        return window;
    };
    // Focuses each in turn for longer than a tick, so that Quellan has seen
    // them in this order, least recently focused first, whatever came before.
    const auto settle = [&](const std::deque<WindowId>& windows) {
        for (const WindowId window : windows) {
            probe.activate(window);
            waitUntil([&] { return probe.activeWindow() == window; });
            std::this_thread::sleep_for(450ms);
        }
    };
    std::deque<WindowId> visible{openFocused("a"), openFocused("b"), openFocused("c")};
    settle(visible);
    const char* rounds = std::getenv("QUELLAN_FAST_SWITCH_ROUNDS");
    int right = 0, total = rounds ? std::atoi(rounds) : 20;
    for (auto _ : state) {
        for (int round = 0; round < total; ++round) {
            const WindowId older = visible.front();
            probe.activate(older);
            waitUntil([&] { return probe.activeWindow() == older; });
            const WindowId newer = openFocused("new-" + std::to_string(round));
            const bool gone = waitUntil([&] { return iconic(visible[1]); }, 3s);
            right += gone && !iconic(older) && !iconic(newer) ? 1 : 0;
            visible.erase(visible.begin(), visible.begin() + 2);
            visible.insert(visible.end(), {older, newer});
            settle(visible);
        }
    }
    state.counters["rounds"] = total;
    state.counters["rightWindowMinimized"] = right;
}

BENCHMARK(FastSwitch)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
} // namespace quellan::e2e

BENCHMARK_MAIN();
