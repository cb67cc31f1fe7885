// How soon a new window over the limit brings the least recently used one
// down, as a person meets it: the real program on Xvfb with openbox and
// trayer, the limit at three, three windows open. Each round a plain new
// window is mapped (openbox places and focuses it), and the time runs from
// the map to the moment a client of the benchmark's own sees the oldest
// window's WM_STATE turn iconic. Rounds are a second or so apart, as a
// person opens windows. QUELLAN_NEW_WINDOW_ROUNDS sets the rounds (30).
#include "Running.hpp"

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <optional>
#include <poll.h>
#include <random>
#include <thread>

namespace quellan::e2e {
namespace {

using namespace std::chrono_literals;
using namespace x11::testing;
using Clock = std::chrono::steady_clock;

/// A client of its own that hears WM_STATE change on the windows it watches.
class IconicWatch {
public:
    explicit IconicWatch(const std::string& display) : connection_(xcb_connect(display.c_str(), nullptr)) {
        const auto cookie = xcb_intern_atom(connection_, 0, 8, "WM_STATE");
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection_, cookie, nullptr);
        if (reply != nullptr) wmState_ = reply->atom;
        std::free(reply);
    }
    ~IconicWatch() { xcb_disconnect(connection_); }
    IconicWatch(const IconicWatch&) = delete;
    IconicWatch& operator=(const IconicWatch&) = delete;

    void watch(WindowId window) {
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &mask);
        xcb_aux_sync();
    }

    /// The first watched window to turn iconic within `limit`, and when the event came.
    std::optional<std::pair<WindowId, Clock::time_point>> nextIconic(std::chrono::milliseconds limit) {
        const Clock::time_point end = Clock::now() + limit;
        while (Clock::now() < end) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                const auto at = Clock::now();
                std::optional<WindowId> changed;
                if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY) {
                    const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
                    if (notify->atom == wmState_ && notify->state == XCB_PROPERTY_NEW_VALUE) changed = notify->window;
                }
                std::free(event);
                if (changed && iconic(*changed)) return std::pair{*changed, at};
            }
            pollfd descriptor{xcb_get_file_descriptor(connection_), POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            poll(&descriptor, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)) + 1);
        }
        return std::nullopt;
    }

private:
    void xcb_aux_sync() {
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }
    bool iconic(WindowId window) {
        const auto cookie = xcb_get_property(connection_, 0, window, wmState_, wmState_, 0, 1);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
        const bool iconic = reply != nullptr && xcb_get_property_value_length(reply) >= 4 &&
                            *static_cast<const std::uint32_t*>(xcb_get_property_value(reply)) == 3u;
        std::free(reply);
        return iconic;
    }

    xcb_connection_t* connection_;
    xcb_atom_t wmState_ = 0;
};

void NewWindow(benchmark::State& state) {
    std::string error;
    auto [session, quellan] = startQuellanOn("openbox", "windowLimit = 3\n", error);
    if (!quellan) return state.SkipWithError(error.c_str());
    Probe& probe = session->probe();
    IconicWatch watch(session->display());
    // Opened one after another, each focused by openbox as it maps: the
    // first is the least recently used.
    std::deque<WindowId> visible;
    for (const char* title : {"a", "b", "c"}) {
        const WindowId window = probe.create(std::string("title=") + title);
        if (window == 0 || !probe.waitManaged(window)) return state.SkipWithError("a window was not managed");
        waitUntil([&] { return probe.activeWindow() == window; });
        watch.watch(window);
        visible.push_back(window);
        std::this_thread::sleep_for(400ms);
    }
    const char* rounds = std::getenv("QUELLAN_NEW_WINDOW_ROUNDS");
    const int total = rounds ? std::atoi(rounds) : 30;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pause(800, 1300);
    std::vector<double> latencies;
    int right = 0;
    for (auto _ : state) {
        for (int round = 0; round < total; ++round) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
            const WindowId window = probe.create("nomap title=new-" + std::to_string(round));
            watch.watch(window);
            const Clock::time_point mapped = Clock::now();
            probe.map({window});
            const auto iconic = watch.nextIconic(3s);
            if (!iconic) continue;
            latencies.push_back(std::chrono::duration<double, std::milli>(iconic->second - mapped).count());
            // Nothing else goes meanwhile: the oldest and only the oldest.
            const bool more = watch.nextIconic(100ms).has_value();
            right += iconic->first == visible.front() && !more ? 1 : 0;
            std::erase(visible, iconic->first);
            visible.push_back(window);
        }
    }
    std::ranges::sort(latencies);
    state.counters["rounds"] = total;
    state.counters["rightWindowMinimized"] = right;
    if (!latencies.empty()) {
        state.counters["mapToIconicMsMedian"] = latencies[latencies.size() / 2];
        state.counters["mapToIconicMsMax"] = latencies.back();
        state.counters["mapToIconicMsMin"] = latencies.front();
    }
}

BENCHMARK(NewWindow)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
} // namespace quellan::e2e

BENCHMARK_MAIN();
