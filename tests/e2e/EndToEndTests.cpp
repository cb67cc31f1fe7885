// The real program, build/quellan, on a real X desktop of the test's own:
// Xvfb, a window manager (openbox and fluxbox, which honour iconify
// requests differently, and i3, which ignores them), a tray (trayer,
// wmsystemtray, or xfce4-panel, lxqt-panel and mate-panel as status
// notifier hosts), and windows the probe makes as applications would. The menu is driven as a person would, with
// the pointer and the keyboard through xdotool, or over D-Bus as a status
// notifier panel drives it. In the sanitizer build the clean ends are also
// the leak check; QUELLAN_UNDER runs it under valgrind.
#include "DesktopSession.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <regex>
#include <sstream>
#include <thread>

namespace quellan::e2e {
namespace {

using namespace x11::testing;

// One tick is 0.35 s; the slack covers a loaded machine and the sanitizer build.
const auto kWithinATick = 3000ms * slowdown();
const auto kFewTicks = 1000ms * slowdown();
// Generous: a window manager restart takes a while, and valgrind slows Quellan down.
constexpr auto kSettle = 15s;

class Desktop : public ::testing::Test {
protected:
    void startSession(const std::string& windowManager, bool withTray = true) {
        std::string error;
        ASSERT_TRUE(session_ = DesktopSession::start(windowManager, error, withTray)) << error;
        probe_ = &session_->probe();
    }

    void startQuellan(const std::string& settings, bool waitForIcon = true) {
        session_->writeSettings(settings);
        std::string error;
        ASSERT_TRUE(quellan_ = session_->startQuellan(error, waitForIcon)) << error;
    }

    /// Everything Quellan has written so far, standard error included.
    std::string said() { return collectOutput(*quellan_, output_); }

    /// Ends Quellan as a session does (or, without `terminate`, expects it
    /// to be ending already) and expects a clean end; it may say only lines
    /// starting with one of `allowed`.
    void expectCleanEnd(const std::vector<std::string>& allowed = {}, bool terminate = true) {
        if (terminate) ::kill(quellan_->pid(), SIGTERM);
        EXPECT_EQ(quellan_->exitCode(60s), 0) << said();
        std::istringstream lines(said());
        for (std::string line; std::getline(lines, line);)
            EXPECT_TRUE(std::ranges::any_of(allowed, [&](const auto& prefix) { return line.starts_with(prefix); }))
                << line;
        output_.clear();
    }

    /// Focuses `window` and (with `hold`) keeps the focus there for longer than
    /// a tick, as a person would: Quellan only knows the focus it sees when it scans.
    void focus(WindowId window, bool hold = true) {
        probe_->activate(window);
        EXPECT_TRUE(waitUntil([&] { return probe_->activeWindow() == window; })) << window;
        if (hold) std::this_thread::sleep_for(kFewTicks / 2);
    }

    /// Opens a window as an application would, once it is managed focused as by `focus`.
    WindowId openFocused(const std::string& options, bool withActions = true, bool hold = true) {
        const WindowId window = probe_->create(options);
        EXPECT_TRUE(window != 0 && probe_->waitManaged(window, withActions)) << options;
        focus(window, hold);
        return window;
    }

    /// Opens the tray menu with a click on Quellan's icon and presses `keys` (xdotool's names) there.
    void pressInMenu(std::vector<std::string> keys) {
        // Quellan's windows are the icon, the menu and the notices, which are
        // tooltips and may show before the click or once a row is chosen.
        const auto menuOpen = [&] {
            return std::ranges::any_of(session_->visibleQuellanWindows(), [&](const std::string& window) {
                return window != session_->icon() &&
                       std::ranges::count(probe_->cardinals(std::stoul(window), "_NET_WM_WINDOW_TYPE"),
                                          probe_->atom("_NET_WM_WINDOW_TYPE_TOOLTIP")) == 0;
            });
        };
        const auto environment = session_->environment();
        runCommand({"xdotool", "mousemove", "--window", session_->icon(), "8", "8", "click", "1"}, environment);
        ASSERT_TRUE(waitUntil(menuOpen)) << "no menu opened";
        // The menu takes the keyboard just after it is shown.
        std::this_thread::sleep_for(300ms * slowdown());
        keys.insert(keys.begin(), {"xdotool", "key"});
        runCommand(keys, environment);
        ASSERT_TRUE(waitUntil([&] { return !menuOpen(); })) << "the menu stayed open";
    }

    /// Chooses the row `label` as a person would: on a panel, which draws the
    /// menu itself, over D-Bus as the panel does; in Quellan's own menu with `keys`.
    void choose(const std::string& label, const std::vector<std::string>& keys) {
        PanelHost* panel = session_->panel();
        if (panel == nullptr) return pressInMenu(keys);
        const auto told = [&] { return panel->layoutUpdates() + panel->propertyUpdates(); };
        const int updates = told(), dropped = panel->checksDropped();
        ASSERT_TRUE(panel->choose(label)) << label;
        if (label == "Quit Quellan") return;
        // Told of the change, the panel reads the menu again: the choice is
        // checked, and the row checked before is told to lose its mark.
        EXPECT_TRUE(waitUntil([&] { return told() > updates; })) << "the panel was not told";
        EXPECT_GT(panel->checksDropped(), dropped);
        EXPECT_TRUE(std::ranges::any_of(panel->menu(), [&](const MenuRow& row) {
            return row.label == label && row.toggleState == 1;
        })) << said();
    }

    bool iconic(WindowId window) { return probe_->wmState(window) == 3u; } // ICCCM IconicState
    std::vector<WindowId> iconicAmong(std::vector<WindowId> windows) {
        std::erase_if(windows, [&](WindowId window) { return !iconic(window); });
        return windows;
    }
    /// The iconic ones among `windows` a few ticks after `count` of them are: what Quellan settles on.
    std::vector<WindowId> settled(const std::vector<WindowId>& windows, std::size_t count,
                                  std::chrono::milliseconds limit = kWithinATick) {
        EXPECT_TRUE(waitUntil([&] { return iconicAmong(windows).size() == count; }, limit)) << said();
        std::this_thread::sleep_for(kFewTicks);
        return iconicAmong(windows);
    }

    std::unique_ptr<DesktopSession> session_;
    Probe* probe_ = nullptr;
    std::unique_ptr<Process> quellan_;
    std::string output_;
};

class EndToEnd : public Desktop, public ::testing::WithParamInterface<std::string> {};

TEST_P(EndToEnd, TheLimitChosenInTheMenuMinimizesTheLeastRecentlyFocusedAndSurvivesARestart) {
    startSession(GetParam());
    startQuellan("windowLimit = 5\n");
    std::vector<WindowId> windows;
    for (int i = 0; i < 5; ++i)
        windows.push_back(openFocused("title=window-" + std::to_string(i)));
    ASSERT_EQ(settled(windows, 0), std::vector<WindowId>{}) << testing::PrintToString(probe_->clientList());

    // Rows "1" to "10" are the first enabled ones: three downs pick "3".
    choose("3", {"Down", "Down", "Down", "Return"});
    EXPECT_EQ(settled(windows, 2), (std::vector<WindowId>{windows[0], windows[1]}));
    EXPECT_NE(readFile(session_->settingsFile()).find("windowLimit = 3\n"), std::string::npos);

    // Back to an older window and at once a new one, within one tick: the
    // least recent visible one goes, never the one just used.
    focus(windows[2], false);
    windows.push_back(openFocused("title=window-5"));
    EXPECT_EQ(settled(windows, 3), (std::vector<WindowId>{windows[0], windows[1], windows[3]}));
    EXPECT_EQ(probe_->activeWindow(), windows[5]);

    // Ended as a session ends it, then started again: still three. (A new
    // run knows no focus history, so which older window goes is its choice.)
    expectCleanEnd();
    startQuellan(readFile(session_->settingsFile()));
    windows.push_back(openFocused("title=window-6"));
    EXPECT_EQ(settled(windows, 4).size(), 4u);
    EXPECT_FALSE(iconic(windows.back()));
    // The tray or panel holding Quellan's icon, whatever its type, was never a candidate.
    for (const WindowId client : probe_->clientList())
        EXPECT_TRUE(std::ranges::count(windows, client) == 1 || !iconic(client)) << client;
    // Ctrl+Q, shown beside "Quit Quellan", quits while the menu is open.
    choose("Quit Quellan", {"ctrl+q"});
    expectCleanEnd({}, false);
}

// wmsystemtray is a plain untyped window: a tray only Quellan's own rules keep
// from being counted; xfce4-panel a status notifier host, which draws the menu.
INSTANTIATE_TEST_SUITE_P(Desktops, EndToEnd,
                         ::testing::Values("openbox", "fluxbox", "openbox+wmsystemtray", "openbox+xfce4-panel"),
                         [](const auto& info) { return std::regex_replace(info.param, std::regex("[^a-z0-9]"), "_"); });

class PanelMenu : public Desktop, public ::testing::WithParamInterface<std::string> {};

// Opened by a panel while windows over the limit are minimized, the menu
// shows the desktop as it is, and each publication reaches the panel as at
// most one signal of each kind: rows that stay put (two windows, whichever
// they are) need no layout update, which some panels answer by closing the
// menu and others by reading it all again.
TEST_P(PanelMenu, OpensCurrentWhileWindowsAreMinimizedAndSaysOnlyWhatChanged) {
    startSession("openbox+" + GetParam());
    startQuellan("windowLimit = 2\n");
    std::vector<WindowId> windows{openFocused("title=first"), openFocused("title=second")};
    std::vector<std::string> titles{"first", "second"};
    PanelHost& panel = *session_->panel();
    for (int i = 0; i < 10; ++i) {
        const int layouts = panel.layoutUpdates(), properties = panel.propertyUpdates();
        titles.push_back("new-" + std::to_string(i));
        windows.push_back(openFocused("title=" + titles.back(), true, false));
        EXPECT_FALSE(panel.menu().empty());
        settled(windows, windows.size() - 2);
        const auto rows = panel.layout();
        const auto row = [&](const std::string& prefix) {
            const auto found =
                std::ranges::find_if(rows, [&](const MenuRow& r) { return r.label.starts_with(prefix); });
            return found != rows.end() ? *found : MenuRow{};
        };
        EXPECT_EQ(row("2 windows active").label, "2 windows active") << i;
        const auto active = row("Active Windows (2)").children;
        ASSERT_EQ(active.size(), 2u) << i;
        for (std::size_t w = 0; w < windows.size(); ++w) {
            const bool listed = std::ranges::any_of(active, [&](const MenuRow& r) {
                return r.label.find("\u2068" + titles[w] + "\u2069") != std::string::npos;
            });
            EXPECT_EQ(listed, !iconic(windows[w])) << titles[w];
        }
        panel.closeMenu();
        EXPECT_LE(panel.layoutUpdates() - layouts, 1) << i;
        // The window's arrival, the opening, the durations ticking while
        // it is open, the closing: one each.
        EXPECT_LE(panel.propertyUpdates() - properties, 10) << i;
    }
    // Opened during a rest, the menu is kept current while open: its durations tick.
    std::this_thread::sleep_for(kFewTicks);
    const auto opened = panel.menu();
    EXPECT_TRUE(waitUntil([&] { return panel.layout() != opened; })) << "durations frozen";
    panel.closeMenu();
    expectCleanEnd();
}

INSTANTIATE_TEST_SUITE_P(Panels, PanelMenu, ::testing::Values("lxqt-panel", "mate-panel"),
                         [](const auto& info) { return std::regex_replace(info.param, std::regex("-"), "_"); });

TEST_F(Desktop, AWindowManagerThatCannotMinimizeIsNamedOnceUntilOneThatCanTakesOver) {
    startSession("i3");
    startQuellan("windowLimit = 1\n");
    // i3 publishes no allowed actions.
    const std::vector<WindowId> windows{openFocused("title=a", false), openFocused("title=b", false),
                                        openFocused("title=c", false)};
    const std::string notice = "quellan: This window manager does not minimize windows when asked";
    ASSERT_TRUE(waitUntil([&] { return said().find(notice) != std::string::npos; }, kSettle)) << said();
    EXPECT_EQ(iconicAmong(windows), std::vector<WindowId>{});
    pressInMenu({"Down", "Down", "Return"});

    // Replaced by one that minimizes, which adopts the windows (and focuses
    // one of its choosing): the limit chosen meanwhile, 2, holds.
    std::string error;
    ASSERT_TRUE(session_->replaceWindowManager("openbox", error)) << error;
    EXPECT_EQ(settled(windows, 1, kSettle).size(), 1u);
    EXPECT_FALSE(iconic(probe_->activeWindow().value_or(0)));
    pressInMenu({"ctrl+q"});
    // While no window manager runs, Quellan may say which kind it needs.
    EXPECT_EQ(said().find(notice), said().rfind(notice)) << "said more than once";
    expectCleanEnd({notice, "quellan: the window manager does not publish its client list"}, false);
}

// A window manager that answers late is neither over-asked nor taken to
// refuse: exactly the excess goes, never the window in use.
TEST_F(Desktop, ALateWindowManagerGetsExactlyTheExcessAndIsNotTakenToRefuse) {
    startSession("openbox");
    startQuellan("windowLimit = 3\n");
    std::vector<WindowId> windows;
    const auto visible = [&] { return windows.size() - iconicAmong(windows).size(); };
    for (int i = 0; i < 3; ++i)
        windows.push_back(openFocused("title=kept-" + std::to_string(i), true, false));
    // Stopped just after a window over the limit opened, before it could answer.
    for (const auto pause : {500ms, 900ms, 2000ms, 5000ms}) {
        windows.push_back(openFocused("title=after-" + std::to_string(pause.count()), true, false));
        session_->pauseWindowManager(pause);
        EXPECT_TRUE(waitUntil([&] { return visible() == 3; }, kSettle)) << pause.count() << " ms";
        std::this_thread::sleep_for(kFewTicks);
        EXPECT_EQ(visible(), 3u) << pause.count() << " ms";
        EXPECT_FALSE(iconic(windows.back()));
    }
    // A session restored: 150 windows mapped in one flush, the window
    // manager busy with them and then stopped for a second.
    std::vector<WindowId> restored;
    for (int i = 0; i < 150; ++i)
        restored.push_back(probe_->create("placed nomap title=restored-" + std::to_string(i)));
    probe_->map(restored);
    windows.insert(windows.end(), restored.begin(), restored.end());
    std::this_thread::sleep_for(100ms);
    session_->pauseWindowManager(1000ms);
    EXPECT_TRUE(waitUntil([&] { return visible() == 3; }, kSettle)) << visible();
    std::this_thread::sleep_for(2 * kFewTicks);
    EXPECT_EQ(visible(), 3u);
    EXPECT_FALSE(iconic(probe_->activeWindow().value_or(0)));
    EXPECT_EQ(said().find("does not minimize"), std::string::npos) << said();
    expectCleanEnd();
}

// Windows first seen together go least recently used first, whatever the
// order of their programs' process ids and of each program's windows.
TEST_F(Desktop, NothingIsMinimizedBeforeTheIconThenTheLeastRecentlyUsedGoAndLosingTheDisplayKeepsTheSettings) {
    startSession("openbox", false);
    std::vector<WindowId> windows;
    for (const char* pid : {"6001", "6000", "6000", "6001"})
        windows.push_back(openFocused("pid=" + std::string(pid) + " title=used-" + std::to_string(windows.size())));
    startQuellan("windowLimit = 2\n", false);
    std::this_thread::sleep_for(2 * kFewTicks);
    EXPECT_EQ(iconicAmong(windows), std::vector<WindowId>{});
    EXPECT_NE(said().find("to quit, press Ctrl+C here or run \"pkill -x quellan\""), std::string::npos) << said();
    std::string error;
    ASSERT_TRUE(session_->startTray(error)) << error;
    EXPECT_EQ(settled(windows, 2, kSettle), (std::vector<WindowId>{windows[0], windows[1]}));
    // Said once, however many times it looked for a tray.
    EXPECT_EQ(std::ranges::count(said(), '\n'), 2) << said();

    session_->server().kill();
    EXPECT_NE(quellan_->exitCode(10s * slowdown()).value_or(0), 0) << said();
    const std::string lost = "quellan: stopped while still running (was the connection to the display lost?)";
    EXPECT_NE(said().find(lost), std::string::npos) << said();
    EXPECT_EQ(readFile(session_->settingsFile()), "windowLimit = 2\n");
}

// Each is said on standard error and, where a person looks, in a message beside the icon.
TEST_F(Desktop, ASecondStartAMissingScreenAndAMissingWindowManagerAreToldWithoutHarm) {
    startSession("openbox");
    startQuellan("windowLimit = 11\n");
    const auto told = [&](const std::string& text, std::size_t times = 1) {
        return waitUntil([&] {
            std::size_t count = 0;
            for (auto at = said().find(text); at != std::string::npos; at = output_.find(text, at + 1))
                ++count;
            return count == times && session_->visibleQuellanWindows().size() == 2;
        });
    };
    EXPECT_TRUE(told("The saved window limit 11 is not between 1 and 10")) << said();
    // Runs another `quellan` on `screen` of the display to its end, which is to be `code` after saying `text`.
    const auto run = [&](const std::string& screen, int code, const std::string& text) {
        std::string output;
        auto other = session_->startQuellan(output, false, screen);
        const auto ended = other ? other->exitCode(10s) : std::nullopt;
        if (other) collectOutput(*other, output);
        EXPECT_EQ(ended, code) << output;
        EXPECT_NE(output.find(text), std::string::npos) << output;
    };
    run(".0", 0, "Quellan is already running on this display");
    EXPECT_TRUE(told("Quellan is already running; its menu is behind this icon.")) << said();
    run(".7", 1, "has no such screen");

    session_->stopWindowManager();
    std::this_thread::sleep_for(kFewTicks); // the menu now has the access rows
    const std::string help = "quellan: The window manager does not publish its client list";
    // From the bottom of the menu: "Quit Quellan", then the two rows.
    pressInMenu({"Up", "Up", "Return"});
    EXPECT_TRUE(told(help)) << said();
    pressInMenu({"Up", "Up", "Up", "Return"});
    EXPECT_TRUE(told(help, 2)) << said();

    // A crash leaves its lock file behind, which never blocks a new start.
    ::kill(quellan_->pid(), SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return !quellan_->running(); }));
    output_.clear();
    startQuellan("windowLimit = 2\n");
    expectCleanEnd({help});
}

} // namespace
} // namespace quellan::e2e
