// What a snapshot costs on a real display (Xvfb, openbox) for 5 to 1000
// windows: on an unchanged desktop (what every idle tick costs), and
// reading the whole desktop again (as after a new window manager) against
// two references measured in the same run: as many bare property
// requests, all pipelined, and the same requests made one at a time.
#include "Platform/Platform.hpp"
#include "Platform/x11/X11Desktop.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"
#include "XTestEnvironment.hpp"

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace quellan::x11 {
namespace {

using namespace testing;

struct Environment {
    std::unique_ptr<XServer> server;
    std::unique_ptr<WindowManager> manager;
    std::unique_ptr<Probe> probe;
    std::unique_ptr<X11Desktop> desktop;
    xcb_connection_t* reference = nullptr;
    std::vector<xcb_atom_t> windowProperties;
    std::vector<WindowId> windows;

    ~Environment() {
        if (reference) xcb_disconnect(reference);
    }
};

Environment* environment = nullptr;

/// Exactly `count` managed windows, spread over ten processes.
bool ensureWindows(std::size_t count) {
    Environment& e = *environment;
    while (e.windows.size() < count) {
        const WindowId window = e.probe->create("pid=" + std::to_string(5000 + e.windows.size() % 10) +
                                                " class=Bench title=window-" + std::to_string(e.windows.size()));
        if (window == 0 || !e.probe->waitManaged(window)) return false;
        e.windows.push_back(window);
    }
    while (e.windows.size() > count) {
        e.probe->destroyWindow(e.windows.back());
        e.windows.pop_back();
    }
    return waitUntil([&] { return e.probe->clientList().size() == count; });
}

/// What the window source takes from the desktop, as the program takes it.
std::vector<ManagedWindow> snapshot(X11Desktop& desktop) {
    const platform::ScopedBackends installed(desktop.backends());
    return AccessibilityWindowSource().snapshot().windows;
}

/// Requests a snapshot of the whole desktop sends, measured on the backend itself.
std::uint64_t requestsPerFullSnapshot() {
    X11Desktop& desktop = *environment->desktop;
    snapshot(desktop);
    const auto before = desktop.statistics().requests;
    desktop.resynchronize();
    snapshot(desktop);
    return desktop.statistics().requests - before;
}

void propertyRequests(std::uint64_t count, bool pipelined) {
    Environment& e = *environment;
    std::vector<xcb_get_property_cookie_t> cookies;
    cookies.reserve(pipelined ? count : 1);
    std::size_t next = 0;
    for (std::uint64_t i = 0; i < count; ++i, ++next) {
        const WindowId window = e.windows[next / e.windowProperties.size() % e.windows.size()];
        const xcb_atom_t property = e.windowProperties[next % e.windowProperties.size()];
        const auto cookie = xcb_get_property(e.reference, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
        if (pipelined) {
            cookies.push_back(cookie);
        } else {
            std::free(xcb_get_property_reply(e.reference, cookie, nullptr));
        }
    }
    for (const auto& cookie : cookies)
        std::free(xcb_get_property_reply(e.reference, cookie, nullptr));
}

/// `full`: the whole desktop read again for every snapshot; otherwise an unchanged desktop.
void snapshotBenchmark(benchmark::State& state, bool full) {
    const auto count = static_cast<std::size_t>(state.range(0));
    if (!ensureWindows(count)) {
        state.SkipWithError("windows were not managed");
        return;
    }
    X11Desktop& desktop = *environment->desktop;
    snapshot(desktop);
    const Statistics before = desktop.statistics();
    std::size_t kept = 0;
    for (auto _ : state) {
        if (full) desktop.resynchronize();
        kept = snapshot(desktop).size();
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["windows"] = static_cast<double>(kept);
    state.counters["requests"] = static_cast<double>(desktop.statistics().requests - before.requests) / iterations;
    state.counters["roundTrips"] =
        static_cast<double>(desktop.statistics().roundTrips - before.roundTrips) / iterations;
}
void IdleSnapshot(benchmark::State& state) { snapshotBenchmark(state, false); }
void Snapshot(benchmark::State& state) { snapshotBenchmark(state, true); }

void PipelinedRequests(benchmark::State& state) {
    if (!ensureWindows(static_cast<std::size_t>(state.range(0)))) {
        state.SkipWithError("windows were not managed");
        return;
    }
    const std::uint64_t count = requestsPerFullSnapshot();
    for (auto _ : state)
        propertyRequests(count, true);
    state.counters["requests"] = static_cast<double>(count);
}

void SequentialRequests(benchmark::State& state) {
    if (!ensureWindows(static_cast<std::size_t>(state.range(0)))) {
        state.SkipWithError("windows were not managed");
        return;
    }
    const std::uint64_t count = requestsPerFullSnapshot();
    for (auto _ : state)
        propertyRequests(count, false);
    state.counters["requests"] = static_cast<double>(count);
}

// Grouped by window count, so each count's figures sit together.
void perCount(benchmark::internal::Benchmark* benchmark) { benchmark->Unit(benchmark::kMicrosecond); }
BENCHMARK(IdleSnapshot)->Arg(5)->Apply(perCount);
BENCHMARK(Snapshot)->Arg(5)->Apply(perCount);
BENCHMARK(PipelinedRequests)->Arg(5)->Apply(perCount);
BENCHMARK(SequentialRequests)->Arg(5)->Apply(perCount);
BENCHMARK(IdleSnapshot)->Arg(50)->Apply(perCount);
BENCHMARK(Snapshot)->Arg(50)->Apply(perCount);
BENCHMARK(PipelinedRequests)->Arg(50)->Apply(perCount);
BENCHMARK(SequentialRequests)->Arg(50)->Apply(perCount);
BENCHMARK(IdleSnapshot)->Arg(200)->Apply(perCount);
BENCHMARK(Snapshot)->Arg(200)->Apply(perCount);
BENCHMARK(PipelinedRequests)->Arg(200)->Apply(perCount);
BENCHMARK(SequentialRequests)->Arg(200)->Apply(perCount);
BENCHMARK(IdleSnapshot)->Arg(1000)->Apply(perCount);
BENCHMARK(Snapshot)->Arg(1000)->Apply(perCount);
BENCHMARK(PipelinedRequests)->Arg(1000)->Apply(perCount);
BENCHMARK(SequentialRequests)->Arg(1000)->Apply(perCount);

int run(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Environment e;
    environment = &e;
    std::string error;
    e.server = XServer::start(error);
    if (!e.server) {
        std::printf("no X server: %s\n", error.c_str());
        return 1;
    }
    e.manager = WindowManager::start("openbox", e.server->display(), error);
    if (e.manager) e.probe = Probe::connect(e.server->display(), error);
    if (!e.probe) {
        std::printf("cannot set up the display: %s\n", error.c_str());
        return 1;
    }
    ConnectResult connected = X11Desktop::connect(e.server->display());
    if (!connected.desktop) {
        std::printf("%s\n", connected.error.c_str());
        return 1;
    }
    e.desktop = std::move(connected.desktop);
    e.reference = xcb_connect(e.server->display().c_str(), nullptr);
    for (const char* name :
         {"_NET_WM_PID", "WM_CLIENT_MACHINE", "WM_CLASS", "_NET_WM_WINDOW_TYPE", "WM_TRANSIENT_FOR", "_NET_WM_STATE",
          "WM_STATE", "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_DESKTOP", "_NET_WM_NAME", "WM_NAME"}) {
        const auto cookie = xcb_intern_atom(e.reference, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(e.reference, cookie, nullptr);
        e.windowProperties.push_back(reply ? reply->atom : XCB_NONE);
        std::free(reply);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    environment = nullptr;
    return 0;
}

} // namespace
} // namespace quellan::x11

int main(int argc, char** argv) { return quellan::x11::run(argc, argv); }
