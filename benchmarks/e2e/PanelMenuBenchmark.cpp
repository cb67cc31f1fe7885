// What a status notifier panel is sent as it opens Quellan's menu while a
// window over the limit is being minimized: the real program on Xvfb with
// openbox, a limit of two and a new window before each opening, under
// xfce4-panel, lxqt-panel and mate-panel. Counted on the panel's bus, per
// opening made with the panel's own calls (AboutToShow, GetLayout, the
// "opened" and "closed" events): the LayoutUpdated and
// ItemsPropertiesUpdated signals. Then the panel opens the menu itself, on a
// right-click on the icon, and what counts is whether its menu window is
// still mapped half a second later.
#include "Running.hpp"

#include <benchmark/benchmark.h>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <poll.h>
#include <thread>

namespace quellan::e2e {
namespace {

using namespace std::chrono_literals;
using namespace x11::testing;
using Clock = std::chrono::steady_clock;

constexpr int kRealOpenings = 10;

/// The next top-level override-redirect window (a menu) mapped, or, with
/// `window`, whether that one is unmapped, within `limit`; 0 when none.
xcb_window_t await(xcb_connection_t* connection, Clock::duration limit, xcb_window_t window = 0) {
    const auto deadline = Clock::now() + limit;
    do {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            xcb_window_t found = 0;
            const auto kind = event->response_type & 0x7F;
            if (kind == XCB_MAP_NOTIFY && window == 0) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                if (map->override_redirect) found = map->window;
            } else if (kind == XCB_UNMAP_NOTIFY && window != 0) {
                if (reinterpret_cast<xcb_unmap_notify_event_t*>(event)->window == window) found = window;
            }
            std::free(event);
            if (found != 0) return found;
        }
        pollfd descriptor{xcb_get_file_descriptor(connection), POLLIN, 0};
        poll(&descriptor, 1, 2);
    } while (Clock::now() < deadline);
    return 0;
}

void PanelMenu(benchmark::State& state, const std::string& panelName) {
    std::string error;
    auto [session, quellan] = startQuellanOn("openbox+" + panelName, "windowLimit = 2\n", error);
    if (!quellan) return state.SkipWithError(error.c_str());
    Probe& probe = session->probe();
    int windows = 0;
    const auto openWindow = [&] { probe.activate(probe.create("title=window-" + std::to_string(windows++))); };
    openWindow();
    openWindow();
    std::this_thread::sleep_for(2s);

    PanelHost& panel = *session->panel();
    int layouts = 0, properties = 0, openings = 0;
    for (auto _ : state) {
        const int layoutsBefore = panel.layoutUpdates(), propertiesBefore = panel.propertyUpdates();
        openWindow();
        panel.menu();
        std::this_thread::sleep_for(500ms);
        panel.closeMenu();
        std::this_thread::sleep_for(400ms); // the publication as it closes
        layouts += panel.layoutUpdates() - layoutsBefore;
        properties += panel.propertyUpdates() - propertiesBefore;
        ++openings;
    }
    state.counters["layoutUpdatesPerOpening"] = static_cast<double>(layouts) / openings;
    state.counters["propertyUpdatesPerOpening"] = static_cast<double>(properties) / openings;

    // The icon is the panel's only item, at its start: a right-click there
    // opens the menu as a person would.
    const auto environment = session->environment();
    const auto panels = runCommand({"xdotool", "search", "--onlyvisible", "--classname", panelName}, environment);
    xcb_connection_t* connection = xcb_connect(session->display().c_str(), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
    int stayed = 0, opened = 0;
    const int layoutsBefore = panel.layoutUpdates(), propertiesBefore = panel.propertyUpdates();
    for (int i = 0; i < kRealOpenings; ++i) {
        openWindow();
        while (await(connection, 0s) != 0) {} // nothing earlier counts
        for (const std::string& window : panels)
            runCommand({"xdotool", "mousemove", "--window", window, "14", "14", "click", "3"}, environment);
        const xcb_window_t menu = await(connection, 3s);
        if (menu == 0) continue;
        ++opened;
        if (await(connection, 500ms, menu) != 0) continue; // closed by itself
        ++stayed;
        runCommand({"xdotool", "key", "Escape"}, environment);
        await(connection, 2s, menu);
        std::this_thread::sleep_for(400ms);
    }
    xcb_disconnect(connection);
    state.counters["realLayoutUpdatesPerOpening"] = (panel.layoutUpdates() - layoutsBefore) / double(kRealOpenings);
    state.counters["realPropertyUpdatesPerOpening"] =
        (panel.propertyUpdates() - propertiesBefore) / double(kRealOpenings);
    state.counters["realOpenings"] = kRealOpenings;
    state.counters["realMenusShown"] = opened;
    state.counters["realMenusStayedOpen"] = stayed;
}

BENCHMARK_CAPTURE(PanelMenu, xfce4_panel, std::string("xfce4-panel"))->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PanelMenu, lxqt_panel, std::string("lxqt-panel"))->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PanelMenu, mate_panel, std::string("mate-panel"))->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quellan::e2e

BENCHMARK_MAIN();
