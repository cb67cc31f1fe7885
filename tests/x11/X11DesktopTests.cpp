// The X11 backend against a real X server, with the test client playing a
// window manager whose every property the test chooses. Real window
// managers are the end-to-end tests' part.
#include "Platform/Platform.hpp"
#include "Platform/simulated/SimulatedRunLoop.hpp"
#include "Platform/x11/X11Desktop.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"
#include "Quellan/WindowMonitor.hpp"
#include "XTestEnvironment.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <thread>
#include <unistd.h>

namespace quellan::x11 {
namespace {

using namespace testing;

/// Xvfb with the probe playing every window manager and application part,
/// and the backend connected.
class ScriptedManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server_ = XServer::start(error)) << error;
        ASSERT_TRUE(probe_ = Probe::connect(server_->display(), error)) << error;
        ConnectResult connected = X11Desktop::connect(server_->display());
        ASSERT_TRUE(desktop_ = std::move(connected.desktop)) << connected.error;
    }

    // Every element a test made is released by now.
    void TearDown() override { EXPECT_EQ(desktop_ ? desktop_->model().liveElements() : 0u, 0u); }

    /// Announces a window manager supporting `hints` (comma-separated atom names).
    void announce(const std::string& hints = "_NET_CLIENT_LIST,_NET_ACTIVE_WINDOW,_NET_WM_ALLOWED_ACTIONS,"
                                             "_NET_CURRENT_DESKTOP") {
        probe_->announceWindowManager();
        probe_->set(0, "_NET_SUPPORTED", "atoms", hints);
        probe_->set(0, "_NET_CURRENT_DESKTOP", "cardinals", "0");
    }

    /// A mapped window with what a window manager sets on managing it.
    WindowId window(const std::string& options = {}, const std::string& actions = "_NET_WM_ACTION_MINIMIZE",
                    const std::string& desktop = "0") {
        const WindowId id = probe_->create(options);
        EXPECT_NE(id, 0u);
        probe_->set(id, "WM_STATE", "wmstate", "1");
        probe_->set(id, "_NET_WM_DESKTOP", "cardinals", desktop);
        probe_->set(id, "_NET_WM_ALLOWED_ACTIONS", "atoms", actions);
        return id;
    }

    /// Asks for `window` to be minimized after a new look at the desktop, as a scan does.
    ax::Error minimize(WindowId window) {
        const auto windows = AccessibilityWindowSource().snapshot().windows;
        const auto found = std::ranges::find(windows, windowIdentifier(4000, window), &ManagedWindow::id);
        return found == windows.end()
                   ? ax::kInvalidElement
                   : ax::setAttributeValue(found->element, ax::kMinimizedAttribute, ax::Value::boolean(true));
    }

    /// Publishes `windows` as the client list, oldest first, with no stacking list.
    void manage(const std::vector<WindowId>& windows) {
        std::string list;
        for (const WindowId id : windows)
            list += (list.empty() ? "" : ",") + std::to_string(id);
        probe_->set(0, "_NET_CLIENT_LIST", "windows", list);
    }

    /// The program's window source over this desktop: "pid:window title", "*" marking the focused one.
    std::vector<std::string> snapshot() {
        const platform::ScopedBackends installed(desktop_->backends());
        const WindowSnapshot snapshot = AccessibilityWindowSource().snapshot();
        std::vector<std::string> rows;
        for (const auto& window : snapshot.windows)
            rows.push_back(window.id + " " + window.title + (window.id == snapshot.currentWindowID ? " *" : ""));
        return rows;
    }

    std::unique_ptr<XServer> server_;
    std::unique_ptr<Probe> probe_;
    std::unique_ptr<X11Desktop> desktop_;
};

TEST_F(ScriptedManagerTest, TrustNeedsALiveWindowManagerWithTheNeededHints) {
    int prompts = 0;
    desktop_->model().setTrustPromptHandler([&] { ++prompts; });
    EXPECT_FALSE(desktop_->model().isProcessTrustedWithOptions({.prompt = true}));
    EXPECT_EQ(prompts, 1);
    announce("_NET_CLIENT_LIST");
    EXPECT_FALSE(desktop_->model().isProcessTrusted()) << "no active window support";
    announce("_NET_CLIENT_LIST,_NET_ACTIVE_WINDOW");
    EXPECT_TRUE(desktop_->model().isProcessTrustedWithOptions({.prompt = true}));
    EXPECT_EQ(prompts, 1) << "no prompt once trusted";
    // A window manager that died leaves the root naming a window that is gone.
    probe_->destroyWindow(probe_->cardinals(probe_->root(), "_NET_SUPPORTING_WM_CHECK").at(0));
    EXPECT_FALSE(desktop_->model().isProcessTrusted());
}

TEST_F(ScriptedManagerTest, OnlyVisibleMinimizableStandardWindowsOfLocalApplicationsCount) {
    announce();
    const WindowId plain = window("title=plain");
    // No _NET_WM_NAME: WM_NAME, in Latin-1.
    const WindowId named = window();
    probe_->set(named, "WM_NAME", "STRING", "Caf\xE9");
    const WindowId everywhere = window("", "_NET_WM_ACTION_MINIMIZE", "0xFFFFFFFF");
    const WindowId local = window("pid=4200 machine=localhost title=local");
    // No pid of its own: the X server names its client's, this test's.
    const WindowId anonymous = window("pid=none title=anonymous");
    const WindowId gone = window("title=gone");
    probe_->destroyWindow(gone);
    const std::vector<WindowId> leftAlone{
        window("pid=4103 machine=elsewhere.invalid title=remote"),
        window("state=hidden title=hidden"),
        window("title=refused", "_NET_WM_ACTION_CLOSE"),
        window("title=away", "_NET_WM_ACTION_MINIMIZE", "1"),
        window("transient=" + std::to_string(plain) + " title=transient"),
        window("type=dialog title=dialog"),
        window("state=skip_taskbar title=off-taskbar"),
        window("type=dock title=dock"),
        window("pid=4300 type=dock title=panel"),
        window("pid=4400 title=tray"),
        window("pid=4500 title=holding-our-icon"),
    };
    // The tray owns its selection through a window of its own; Quellan's icon sits in another client.
    probe_->create("pid=none owns=_NET_SYSTEM_TRAY_S0 parent=" + std::to_string(leftAlone[leftAlone.size() - 2]));
    const WindowId icon = probe_->create("pid=none parent=" + std::to_string(leftAlone.back()));
    desktop_->setOwnWindows([icon] { return std::vector<WindowId>{icon}; });
    std::vector<WindowId> all{plain, named, everywhere, local, anonymous, gone};
    all.insert(all.end(), leftAlone.begin(), leftAlone.end());
    // As a window manager's list is just before it hears of the destruction.
    manage(all);
    probe_->set(0, "_NET_ACTIVE_WINDOW", "windows", std::to_string(plain));

    // Applications by pid; each one's windows newest first, without a stacking list.
    const auto row = [](std::int32_t pid, WindowId window, const std::string& title) {
        return windowIdentifier(pid, window) + " " + title;
    };
    EXPECT_EQ(snapshot(),
              (std::vector<std::string>{row(4000, everywhere, "Untitled Window"), row(4000, named, "Caf\xC3\xA9"),
                                        row(4000, plain, "plain *"), row(4200, local, "local")}));
    // The source leaves its own process out, but the window is known as the test's, its only one.
    ax::Value ours;
    desktop_->model().copyAttributeValue(desktop_->model().createApplication(getpid()), ax::kWindowsAttribute, ours);
    ASSERT_TRUE(ours.asList() && ours.asList()->size() == 1);
    EXPECT_EQ(desktop_->model().hash(*ours.asList()->at(0).asElement()), anonymous);
}

TEST_F(ScriptedManagerTest, FocusChangesKeepTheirOrderAndTheServersTimeThoughReadLate) {
    announce();
    const WindowId a = window("title=a"), b = window("title=b"), c = window("title=c");
    manage({a, b, c});
    snapshot(); // listed now, so heard from
    // As a window manager does: the focus given, then the active window set.
    // Nothing is read until well after both.
    for (const WindowId focused : {a, b}) {
        runCommand({"xdotool", "windowfocus", std::to_string(focused)}, {{"DISPLAY", server_->display()}});
        probe_->set(0, "_NET_ACTIVE_WINDOW", "windows", std::to_string(focused));
        std::this_thread::sleep_for(400ms);
    }
    std::this_thread::sleep_for(400ms);
    const platform::ScopedBackends installed(desktop_->backends());
    const double readAt = clock::now();
    const auto changes = AccessibilityWindowSource().snapshot().focusedSinceLastSnapshot;
    // a took the focus and left it when b took it, each when it happened.
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].id + " " + changes[1].id + " " + changes[2].id,
              windowIdentifier(4000, a) + " " + windowIdentifier(4000, a) + " " + windowIdentifier(4000, b));
    EXPECT_LT(changes[0].instant + 0.2, changes[1].instant);
    EXPECT_EQ(changes[1].instant, changes[2].instant);
    EXPECT_LT(changes[2].instant, readAt - 0.2) << "stamped when read, not when it happened";

    // The keys go to a again, which the window manager has not published
    // yet: neither a nor b (which it still names) is asked to go, c is.
    runCommand({"xdotool", "windowfocus", std::to_string(a)}, {{"DISPLAY", server_->display()}});
    EXPECT_EQ(minimize(a), ax::kCannotComplete);
    EXPECT_EQ(minimize(b), ax::kCannotComplete);
    EXPECT_EQ(minimize(c), ax::kSuccess);
}

TEST_F(ScriptedManagerTest, AWindowFocusedThroughARestFallsInactiveOnePeriodAfterItLostTheFocus) {
    struct : clock::ClockBackend {
        double time = 1'800'000'000;
        double now() override { return time; }
    } wall;
    auto backends = desktop_->backends();
    backends.clock = &wall;
    const platform::ScopedBackends installed(backends);
    announce();
    const WindowId a = window("title=a"), b = window("title=b"), tool = window("state=skip_taskbar title=tool");
    manage({b, a, tool});
    const auto give = [&](WindowId focused) {
        runCommand({"xdotool", "windowfocus", std::to_string(focused)}, {{"DISPLAY", server_->display()}});
        probe_->set(0, "_NET_ACTIVE_WINDOW", "windows", std::to_string(focused));
    };
    give(a);
    auto monitor = WindowMonitor::create(std::make_shared<AccessibilityWindowSource>(),
                                         std::make_shared<platform::InMemoryUserDefaults>());
    std::vector<std::string> shown;
    monitor->onStateChange = [&](const MonitorState& state) {
        shown.clear();
        for (const auto& row : state.activeWindows)
            shown.push_back(row.title);
    };
    const auto after = [&](double seconds) {
        wall.time += seconds;
        monitor->scanNow();
        return shown;
    };
    monitor->setInactiveMinutes(1);
    // a is held through a long rest, then the focus goes to a window that does not count.
    give(tool);
    EXPECT_EQ(after(100), std::vector<std::string>{"a"}) << "b, untouched for 100 s, goes at once";
    EXPECT_EQ(after(59), std::vector<std::string>{"a"});
    EXPECT_EQ(after(2), std::vector<std::string>{}) << "a, a minute after it lost the focus";
}

TEST_F(ScriptedManagerTest, AWindowManagerThatHasNotReadTheLastRequestsIsAskedNothingMore) {
    announce("_NET_CLIENT_LIST,_NET_ACTIVE_WINDOW,_NET_WM_ALLOWED_ACTIONS,_NET_REQUEST_FRAME_EXTENTS");
    const WindowId a = window("title=a"), b = window("title=b"), c = window("title=c");
    manage({a, b, c});
    probe_->set(0, "_NET_ACTIVE_WINDOW", "windows", std::to_string(c));
    const platform::ScopedBackends installed(desktop_->backends());
    const auto answerPing = [&] { probe_->set(desktop_->pingWindow(), "_NET_FRAME_EXTENTS", "cardinals", "0,0,0,0"); };
    EXPECT_EQ(minimize(a), ax::kCannotComplete) << "met busy: not yet answered";
    answerPing();
    EXPECT_EQ(minimize(a), ax::kSuccess);
    EXPECT_EQ(minimize(b), ax::kCannotComplete) << "has not read the request for a";
    answerPing();
    EXPECT_EQ(minimize(b), ax::kSuccess);
}

TEST_F(ScriptedManagerTest, AChangeIsToldOnceTheWindowManagerHasAnsweredAPingSentAfterIt) {
    announce("_NET_CLIENT_LIST,_NET_ACTIVE_WINDOW,_NET_CURRENT_DESKTOP,_NET_REQUEST_FRAME_EXTENTS");
    const WindowId a = window("title=a"), b = window("title=b");
    manage({a, b});
    snapshot();
    clock::Instant time = 0;
    simulated::SimulatedRunLoop loop(time);
    platform::Backends backends = desktop_->backends();
    backends.runLoop = &loop;
    const platform::ScopedBackends installed(backends);
    int told = 0;
    ASSERT_TRUE(desktop_->model().observeDesktopChanges([&] { ++told; }));
    const auto answerPing = [&] { probe_->set(desktop_->pingWindow(), "_NET_FRAME_EXTENTS", "cardinals", "0,0,0,0"); };
    // The answer to the ping sent on meeting it lets requests go: a change,
    // held for the answer to the ping it brings, as the rest of a burst is.
    answerPing();
    EXPECT_EQ(desktop_->processEvents(), 0ms) << "the answer is awaited";
    probe_->set(a, "WM_STATE", "wmstate", "3");
    desktop_->processEvents();
    EXPECT_EQ(told, 0);
    answerPing();
    EXPECT_EQ(desktop_->processEvents(), X11Desktop::kReadingRest) << "told: the look reads the rest";
    EXPECT_EQ(told, 1);

    // Unanswered, told all the same; its answer, come later, ends no hold of a change after it.
    snapshot();
    probe_->set(b, "WM_STATE", "wmstate", "3");
    desktop_->processEvents();
    loop.advance(std::chrono::duration<double>(X11Desktop::kLongestHold).count() - 0.005);
    EXPECT_EQ(told, 1);
    loop.advance(0.01);
    EXPECT_EQ(told, 2);
    snapshot();
    probe_->set(b, "WM_STATE", "wmstate", "1");
    desktop_->processEvents();
    answerPing();
    desktop_->processEvents();
    EXPECT_EQ(told, 2);
}

TEST_F(ScriptedManagerTest, AWindowChangingFasterThanAnyoneCouldFollowIsReadAtEveryLookInstead) {
    announce();
    const WindowId a = window("title=a"), b = window("title=b");
    manage({a, b});
    snapshot();
    int told = 0;
    ASSERT_TRUE(desktop_->model().observeDesktopChanges([&] { ++told; }));
    for (std::uint32_t i = 0; i <= X11Desktop::kFloodChanges; ++i)
        probe_->set(a, "_NET_WM_NAME", "UTF8_STRING", "step " + std::to_string(i));
    EXPECT_FALSE(desktop_->model().desktopSettled()) << "unheard, so read at every look";
    EXPECT_EQ(told, 1);
    probe_->set(a, "WM_STATE", "wmstate", "3");
    desktop_->processEvents();
    EXPECT_EQ(told, 1) << "not heard";
    EXPECT_EQ(snapshot(), std::vector<std::string>{windowIdentifier(4000, b) + " b"});
    EXPECT_FALSE(desktop_->model().desktopSettled());

    // The root too: a window listed meanwhile is dated when read, not when the list was last heard changing.
    struct : clock::ClockBackend {
        double now() override { return 2'000'000'000; }
    } wall;
    auto backends = desktop_->backends();
    backends.clock = &wall;
    const platform::ScopedBackends installed(backends);
    bool flooding = false;
    desktop_->setRootFloodHandler([&](bool on) { flooding = on; });
    // Kept up: on a loaded machine one flood's worth may take longer than its span.
    for (std::uint32_t i = 0; !flooding && i < 20 * X11Desktop::kFloodChanges; ++i) {
        probe_->set(0, "_NET_WORKAREA", "cardinals", std::to_string(i));
        if (i % 20 == 0) desktop_->processEvents();
    }
    desktop_->processEvents();
    ASSERT_TRUE(flooding);
    const WindowId c = window("title=c");
    manage({a, b, c});
    const auto windows = AccessibilityWindowSource().snapshot().windows;
    const auto found = std::ranges::find(windows, windowIdentifier(4000, c), &ManagedWindow::id);
    ASSERT_NE(found, windows.end());
    EXPECT_EQ(found->appearedAt, wall.now());
}

TEST_F(ScriptedManagerTest, AChangeArrivingWhileTheActiveWindowIsReadIsToldAtOnce) {
    announce();
    const WindowId a = window("title=a"), far = window("title=far machine=elsewhere");
    manage({a, far});
    probe_->set(0, "_NET_ACTIVE_WINDOW", "windows", std::to_string(a));
    snapshot();
    int told = 0;
    ASSERT_TRUE(desktop_->model().observeDesktopChanges([&] { ++told; }));
    ASSERT_TRUE(desktop_->model().desktopSettled());
    // In one grab: the active window written with its own value, which the
    // backend reads back, and the far window turned local, which arrives
    // while it waits for that answer, read from the socket with the reply.
    probe_->grabServer(true);
    probe_->set(0, "_NET_ACTIVE_WINDOW", "windows", std::to_string(a));
    std::thread window([&] {
        std::this_thread::sleep_for(300ms);
        std::array<char, 256> host{};
        gethostname(host.data(), host.size() - 1);
        probe_->set(far, "WM_CLIENT_MACHINE", "STRING", host.data());
        probe_->grabServer(false);
    });
    desktop_->processEvents();
    window.join();
    EXPECT_EQ(told, 1) << "nothing else would announce it";
}

TEST_F(ScriptedManagerTest, AnUnchangedDesktopCostsNoRequestAndAChangeOnlyItsReads) {
    announce();
    const WindowId a = window("title=a"), b = window("title=b");
    manage({a, b});
    const std::vector<std::string> rows = snapshot();
    Statistics before = desktop_->statistics();
    const auto sent = [&] {
        const Statistics now = desktop_->statistics();
        return std::pair{now.requests - before.requests, now.roundTrips - before.roundTrips};
    };
    int told = 0;
    ASSERT_TRUE(desktop_->model().observeDesktopChanges([&] { ++told; }));
    EXPECT_EQ(snapshot(), rows);
    EXPECT_EQ(sent(), std::pair(0ul, 0ul)) << "idle";
    probe_->set(a, "_NET_WM_USER_TIME", "cardinals", "7");
    EXPECT_TRUE(desktop_->model().desktopSettled());
    EXPECT_EQ(told, 0) << "a property the view does not hold";

    // Shown, not counted: read at the next look, woken for by nobody.
    probe_->set(b, "_NET_WM_NAME", "UTF8_STRING", "renamed");
    EXPECT_TRUE(desktop_->model().desktopSettled());
    EXPECT_EQ(told, 0);
    before = desktop_->statistics();
    EXPECT_EQ(snapshot(), (std::vector<std::string>{windowIdentifier(4000, b) + " renamed", rows[1]}));
    EXPECT_EQ(sent(), std::pair(1ul, 1ul)) << "the title alone";
    EXPECT_TRUE(desktop_->model().desktopSettled());

    // Turned into a dialog after the view was made: looked at again, not iconified.
    probe_->set(b, "_NET_WM_WINDOW_TYPE", "atoms", "_NET_WM_WINDOW_TYPE_DIALOG");
    before = desktop_->statistics();
    ax::Value windows;
    desktop_->model().copyAttributeValue(desktop_->model().createApplication(4000), ax::kWindowsAttribute, windows);
    ASSERT_TRUE(windows.asList() && windows.asList()->size() == 2);
    const ax::Element& dialog = *windows.asList()->at(0).asElement();
    ASSERT_EQ(desktop_->model().hash(dialog), b);
    EXPECT_EQ(desktop_->model().setAttributeValue(dialog, ax::kMinimizedAttribute, ax::Value::boolean(true)),
              ax::kCannotComplete);
    EXPECT_EQ(sent(), std::pair(1ul, 1ul)) << "the type read again, no iconify request";

    // A new window manager: everything is read afresh.
    probe_->announceWindowManager();
    before = desktop_->statistics();
    EXPECT_EQ(snapshot(), std::vector<std::string>{rows[1]});
    EXPECT_GE(sent().first, 20ul);
}

} // namespace
} // namespace quellan::x11
