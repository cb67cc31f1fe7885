// How soon the tray menu opens after a click while more windows are open
// than the limit allows: the real program on Xvfb with trayer, on i3 (which
// ignores every iconify request) and on openbox (which honours them), three
// windows and a limit of one. The time runs from the click to the menu's
// window being mapped, as the X server reports it to a connection of the
// benchmark's own; it includes starting xdotool, which sends the click.
#include "Running.hpp"

#include <benchmark/benchmark.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <poll.h>
#include <thread>

namespace quellan::e2e {
namespace {

using namespace std::chrono_literals;
using namespace x11::testing;
using Clock = std::chrono::steady_clock;

/// Waits for a window to be mapped (or, without `mapped`, unmapped) at
/// the top level, or for `limit`; false when none was. Only the menu maps
/// there after a click: windows a window manager manages map in its frames.
bool await(xcb_connection_t* connection, bool mapped, Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    do {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            const auto kind = event->response_type & 0x7F;
            std::free(event);
            if (kind == (mapped ? XCB_MAP_NOTIFY : XCB_UNMAP_NOTIFY)) return true;
        }
        pollfd descriptor{xcb_get_file_descriptor(connection), POLLIN, 0};
        poll(&descriptor, 1, 2);
    } while (Clock::now() < deadline);
    return false;
}

void ClickToMenu(benchmark::State& state, const std::string& windowManager) {
    std::string error;
    auto [session, quellan] = startQuellanOn(windowManager, "windowLimit = 1\n", error);
    if (!quellan) return state.SkipWithError(error.c_str());
    const std::string icon = session->visibleQuellanWindows().at(0);
    for (int i = 0; i < 3; ++i)
        session->probe().activate(session->probe().create("title=window-" + std::to_string(i)));
    // Past the first scans with the windows, and on i3 past learning that
    // they cannot be minimized (and the notice saying so).
    std::this_thread::sleep_for(5s);

    xcb_connection_t* connection = xcb_connect(session->display().c_str(), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
    const auto environment = session->environment();
    std::vector<double> milliseconds;
    for (auto _ : state) {
        while (await(connection, true, 0s)) {} // nothing earlier counts
        const auto start = Clock::now();
        auto click = Process::spawn({"xdotool", "mousemove", "--window", icon, "8", "8", "click", "1"},
                                    {.environment = environment}, error);
        const bool opened = await(connection, true, 5s);
        const auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!opened) return state.SkipWithError("no menu opened within 5 s");
        milliseconds.push_back(elapsed);
        state.SetIterationTime(elapsed / 1000);
        runCommand({"xdotool", "key", "Escape"}, environment);
        await(connection, false, 2s);
        std::this_thread::sleep_for(400ms); // over a tick, so clicks fall anywhere in one
    }
    xcb_disconnect(connection);
    std::ranges::sort(milliseconds);
    state.counters["medianMs"] = milliseconds[milliseconds.size() / 2];
    state.counters["worstMs"] = milliseconds.back();
}

BENCHMARK_CAPTURE(ClickToMenu, i3, std::string("i3"))->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ClickToMenu, openbox, std::string("openbox"))
    ->Iterations(15)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quellan::e2e

BENCHMARK_MAIN();
