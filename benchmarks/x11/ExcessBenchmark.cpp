// From many visible windows down to the limit on a real display (Xvfb,
// openbox): N windows mapped at once, then the monitor scanning every 0.35 s
// as the program does, until the scan that finds exactly the limit visible
// with nothing left to read. Also with openbox stopped for a second right
// after the first scan sent its requests, as a busy window manager would be.
// The probe, a client of its own, says what is iconic; a few more scans
// after the end show whether anything beyond the excess went too.
#include "Platform/Platform.hpp"
#include "Platform/UserDefaults.hpp"
#include "Platform/x11/X11Desktop.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"
#include "Quellan/WindowMonitor.hpp"
#include "XTestEnvironment.hpp"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

namespace quellan::x11 {
namespace {

using namespace testing;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kLimit = 3;
constexpr auto kTick = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(0.35));

/// `count` windows over ten processes, mapped in one flush. Each asks for
/// its own position, so openbox spends no time placing them.
std::vector<WindowId> openWindows(Probe& probe, xcb_connection_t* c, std::size_t count) {
    std::vector<WindowId> windows;
    for (std::size_t i = 0; i < count; ++i) {
        const WindowId window = probe.create("nomap pid=" + std::to_string(5000 + i % 10) +
                                             " class=Bench title=window-" + std::to_string(i));
        if (window == 0) return {};
        // Spread over the screen, as a desktop's windows are: in one pile, each
        // window gone would have the server redraw all those beneath it.
        const std::int32_t x = static_cast<std::int32_t>(i * 53 % 1080), y = static_cast<std::int32_t>(i * 31 % 900);
        const std::array<std::uint32_t, 2> at{static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)};
        xcb_configure_window(c, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, at.data());
        xcb_size_hints_t hints{};
        xcb_icccm_size_hints_set_position(&hints, 1, x, y);
        xcb_icccm_set_wm_normal_hints(c, window, &hints);
        windows.push_back(window);
    }
    for (const WindowId window : windows)
        xcb_map_window(c, window);
    xcb_flush(c);
    return windows;
}

std::vector<WindowId> notIconic(Probe& probe, const std::vector<WindowId>& windows) {
    std::vector<WindowId> visible;
    std::ranges::copy_if(windows, std::back_inserter(visible), [&](WindowId w) { return probe.wmState(w) != 3u; });
    return visible;
}

void Excess(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const bool paused = state.range(1) != 0;
    std::string error;
    const auto server = XServer::start(error);
    const auto manager = server ? WindowManager::start("openbox", server->display(), error) : nullptr;
    const auto probe = manager ? Probe::connect(server->display(), error) : nullptr;
    if (!probe) return state.SkipWithError(error.c_str());
    const std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> mapper{
        xcb_connect(server->display().c_str(), nullptr), xcb_disconnect};
    const auto windows = openWindows(*probe, mapper.get(), count);
    if (windows.empty() || !waitUntil([&] { return probe->clientList().size() == count; }, 120s) ||
        !std::ranges::all_of(windows, [&](WindowId w) { return probe->waitManaged(w); }))
        return state.SkipWithError("windows were not managed");
    // openbox gives each new window the focus in turn, long after it has
    // managed them all. The scans start once the focus has stood still for a
    // second: a request sent while it moves may reach a window the focus has
    // since made one to keep.
    auto focused = probe->activeWindow();
    auto focusedSince = Clock::now();
    if (!waitUntil(
            [&] {
                if (const auto now = probe->activeWindow(); now != focused) {
                    focused = now;
                    focusedSince = Clock::now();
                }
                return Clock::now() - focusedSince >= 1s;
            },
            300s))
        return state.SkipWithError("the focus did not settle");

    // As the program starts on a busy desktop: its first scan reads it all.
    ConnectResult connected = X11Desktop::connect(server->display());
    if (!connected.desktop) return state.SkipWithError(connected.error.c_str());
    X11Desktop& desktop = *connected.desktop;
    const platform::ScopedBackends installed(desktop.backends());
    const auto monitor = WindowMonitor::create(std::make_shared<AccessibilityWindowSource>(),
                                               std::make_shared<platform::InMemoryUserDefaults>());
    monitor->limit = static_cast<std::int64_t>(kLimit);
    std::int64_t seen = -1;
    monitor->onStateChange = [&](const MonitorState& published) { seen = published.visibleWindowCount; };

    // A scan, then the display's events read as they come until the next
    // tick, as the program's timer and event loop do; openbox is resumed on
    // time whatever the tick.
    constexpr auto kRunning = Clock::time_point::max();
    Clock::time_point resumeAt = kRunning; // when openbox, stopped, goes on
    Clock::time_point nextTick = Clock::now();
    int scans = 0;
    const auto tick = [&] {
        monitor->scanNow();
        if (++scans == 1 && paused) {
            kill(manager->pid(), SIGSTOP);
            resumeAt = Clock::now() + 1s;
        }
        desktop.processEvents();
        nextTick = std::max(nextTick + kTick, Clock::now()); // a late tick is not made up for
    };
    const auto restUntilNextTick = [&] {
        for (auto now = Clock::now(); now < nextTick; now = Clock::now()) {
            pollfd descriptor{desktop.eventDescriptor(), POLLIN, 0};
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::min(nextTick, resumeAt) - now);
            if (poll(&descriptor, 1, static_cast<int>(wait.count())) > 0) desktop.processEvents();
            if (Clock::now() >= resumeAt) {
                kill(manager->pid(), SIGCONT);
                resumeAt = kRunning;
            }
        }
    };

    const Statistics before = desktop.statistics();
    bool reached = false;
    for (auto _ : state) {
        const auto start = Clock::now();
        auto end = start;
        while (!reached && end - start < 120s) {
            tick();
            end = Clock::now(); // the probe's look is not the program's time
            reached = seen == static_cast<std::int64_t>(kLimit) && ax::desktopSettled() &&
                      notIconic(*probe, windows).size() == kLimit;
            if (!reached) restUntilNextTick();
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    const Statistics after = desktop.statistics();
    // Ticks on for a while: a request sent too many would show now.
    for (const auto settled = Clock::now() + 2s; Clock::now() < settled || resumeAt != kRunning;) {
        restUntilNextTick();
        tick();
    }
    const auto visible = notIconic(*probe, windows);
    // Where the keys go at the end, as the server tells it, is visible too.
    const std::unique_ptr<xcb_get_input_focus_reply_t, decltype(&std::free)> input{
        xcb_get_input_focus_reply(mapper.get(), xcb_get_input_focus(mapper.get()), nullptr), &std::free};
    const bool focusKept = focused && std::ranges::count(visible, *focused) == 1 && input &&
                           std::ranges::count(visible, input->focus) == 1;
    if (!reached || visible.size() != kLimit || !focusKept) {
        std::fprintf(stderr, "%zu windows, paused %d: %zu visible, focused %u:", count, paused, visible.size(),
                     focused.value_or(0));
        for (const WindowId window : visible)
            std::fprintf(stderr, " %u (window-%td)", window, std::ranges::find(windows, window) - windows.begin());
        std::fprintf(stderr, "\n");
    }
    state.counters["reached"] = reached;
    state.counters["scans"] = scans;
    state.counters["requests"] = static_cast<double>(after.requests - before.requests);
    state.counters["roundTrips"] = static_cast<double>(after.roundTrips - before.roundTrips);
    state.counters["visible"] = static_cast<double>(visible.size());
    state.counters["beyondExcess"] = static_cast<double>(kLimit - std::min(kLimit, visible.size()));
    state.counters["focusedKept"] = focusKept;
}

BENCHMARK(Excess)
    ->ArgsProduct({{200, 1000, 2000}, {0, 1}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quellan::x11

BENCHMARK_MAIN();
