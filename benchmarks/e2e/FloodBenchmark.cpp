// What a flood of changes costs Quellan, against what scanning every 0.35 s
// costs it, in one run: the real program on Xvfb with openbox and a status
// notifier panel, ten windows open and the limit at ten.
// - Ticking: the panel holds the menu open on a still desktop, so a scan
//   runs every 0.35 s, as every one did before the scans learned to rest.
// - Title flood: the menu closed, the focused window (a terminal printing
//   its progress into its title) retitled 500 times a second, _NET_WM_NAME
//   and WM_NAME each time: 1000 property changes a second.
// - State flood: the same pace on a property that counts, _NET_WM_STATE
//   (a window asking for attention and letting go, over and over).
// - Stacking flood: the root's _NET_CLIENT_LIST_STACKING published again
//   1000 times a second, as a window manager does for a window that keeps
//   raising itself.
// QUELLAN_FLOOD_SECONDS sets each measured span (20 by default).
#include "ProcessCpu.hpp"
#include "Running.hpp"

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace quellan::e2e {
namespace {

using namespace std::chrono_literals;
using namespace x11::testing;
using benchmarks::measureUsage;
using benchmarks::Usage;

/// Changes properties of one window from a connection of its own, `perSecond` times a second, until destroyed.
class Flood {
public:
    enum class Kind { title, state, stacking };

    Flood(const std::string& display, WindowId window, Kind kind, int perSecond)
        : worker_([=, this] { run(display, window, kind, perSecond); }) {}
    ~Flood() {
        stop_ = true;
        worker_.join();
    }
    Flood(const Flood&) = delete;
    Flood& operator=(const Flood&) = delete;

    /// Property changes sent so far.
    long changes() const { return changes_; }

private:
    static xcb_atom_t atom(xcb_connection_t* c, const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply != nullptr ? reply->atom : XCB_NONE;
        std::free(reply);
        return atom;
    }

    void run(const std::string& display, WindowId window, Kind kind, int perSecond) {
        xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
        const xcb_atom_t netName = atom(c, "_NET_WM_NAME"), utf8 = atom(c, "UTF8_STRING");
        const xcb_atom_t netState = atom(c, "_NET_WM_STATE"), attention = atom(c, "_NET_WM_STATE_DEMANDS_ATTENTION");
        const xcb_atom_t stackingAtom = atom(c, "_NET_CLIENT_LIST_STACKING");
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_get_property_reply_t* stacking =
            xcb_get_property_reply(c, xcb_get_property(c, 0, root, stackingAtom, XCB_ATOM_WINDOW, 0, 4096), nullptr);
        const auto step = std::chrono::microseconds(1'000'000 / perSecond);
        auto next = std::chrono::steady_clock::now();
        for (long i = 0; !stop_; ++i) {
            if (kind == Kind::title) {
                const std::string title = "building: " + std::to_string(i % 1000) + " of 1000";
                const auto length = static_cast<std::uint32_t>(title.size());
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, netName, utf8, 8, length, title.data());
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, length,
                                    title.data());
                changes_ += 2;
            } else if (kind == Kind::state) {
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, netState, XCB_ATOM_ATOM, 32, i % 2, &attention);
                changes_ += 1;
            } else if (stacking != nullptr) {
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, stackingAtom, XCB_ATOM_WINDOW, 32,
                                    static_cast<std::uint32_t>(xcb_get_property_value_length(stacking) / 4),
                                    xcb_get_property_value(stacking));
                changes_ += 1;
            }
            xcb_flush(c);
            next += step;
            std::this_thread::sleep_until(next);
        }
        std::free(stacking);
        xcb_disconnect(c);
    }

    std::atomic<bool> stop_ = false;
    std::atomic<long> changes_ = 0;
    std::thread worker_;
};

void Floods(benchmark::State& state) {
    const char* seconds = std::getenv("QUELLAN_FLOOD_SECONDS");
    const auto measured = std::chrono::duration<double>(seconds ? std::strtod(seconds, nullptr) : 20.0);
    std::string error;
    auto [session, quellan] = startQuellanOn("openbox+xfce4-panel", "windowLimit = 10\n", error);
    if (!quellan) return state.SkipWithError(error.c_str());
    Probe& probe = session->probe();
    WindowId focused = 0;
    for (int i = 0; i < 10; ++i) {
        focused = probe.create("title=window-" + std::to_string(i));
        if (focused == 0 || !probe.waitManaged(focused)) return state.SkipWithError("a window was not managed");
    }
    probe.activate(focused);
    std::this_thread::sleep_for(3s);

    const pid_t pid = quellan->pid(), server = session->server().pid();
    PanelHost& panel = *session->panel();
    Usage ticking, titles, states, stackings;
    long titleChanges = 0, stateChanges = 0, stackingChanges = 0;
    for (auto _ : state) {
        if (panel.menu().empty()) return state.SkipWithError("the panel could not open the menu");
        ticking = measureUsage(pid, server, measured);
        panel.closeMenu();
        std::this_thread::sleep_for(1s);
        {
            Flood flood(session->display(), focused, Flood::Kind::title, 500);
            titles = measureUsage(pid, server, measured);
            titleChanges = flood.changes();
        }
        std::this_thread::sleep_for(1s);
        {
            Flood flood(session->display(), focused, Flood::Kind::state, 1000);
            states = measureUsage(pid, server, measured);
            stateChanges = flood.changes();
        }
        std::this_thread::sleep_for(1s);
        {
            Flood flood(session->display(), focused, Flood::Kind::stacking, 1000);
            stackings = measureUsage(pid, server, measured);
            stackingChanges = flood.changes();
        }
        state.SetIterationTime(ticking.seconds + titles.seconds + states.seconds + stackings.seconds);
    }
    if (!quellan->running()) return state.SkipWithError("quellan ended during the flood");
    const auto perChange = [](const Usage& usage, long changes) {
        return changes > 0 ? usage.cpuPercent / 100 * usage.seconds / static_cast<double>(changes) * 1e6 : 0;
    };
    state.counters["tickingCpuPercent"] = ticking.cpuPercent;
    state.counters["tickingWakeupsPerSecond"] = ticking.wakeupsPerMinute / 60;
    const auto report = [&](const std::string& name, const Usage& usage, long changes) {
        state.counters[name + "FloodChangesPerSecond"] = static_cast<double>(changes) / usage.seconds;
        state.counters[name + "FloodCpuPercent"] = usage.cpuPercent;
        state.counters[name + "FloodWakeupsPerSecond"] = usage.wakeupsPerMinute / 60;
        state.counters[name + "FloodMicrosecondsPerChange"] = perChange(usage, changes);
        state.counters[name + "FloodOverTicking"] = usage.cpuPercent / ticking.cpuPercent;
    };
    report("title", titles, titleChanges);
    report("state", states, stateChanges);
    report("stacking", stackings, stackingChanges);
    state.counters["xServerTitleFloodCpuPercent"] = titles.serverCpuPercent;
}

BENCHMARK(Floods)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
} // namespace quellan::e2e

BENCHMARK_MAIN();
