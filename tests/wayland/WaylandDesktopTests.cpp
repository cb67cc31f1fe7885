// Quellan on headless Wayland compositors: the backend against KWin, which
// minimizes when asked, and sway, which does not; the real program on KWin,
// its icon in a status notifier panel whose menu the test drives over
// D-Bus, and on weston, which offers no window management at all.
#include "DesktopSession.hpp"
#include "Platform/wayland/WaylandDesktop.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"
#include "WaylandSession.hpp"

#include <gtest/gtest.h>

#include <optional>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace quellan::wayland::testing {
namespace {

using x11::testing::waitUntil;

/// Titles of the toplevels that are (or are not) minimized, as `desktop` last heard.
std::vector<std::string> titles(WaylandDesktop& desktop, bool minimized) {
    desktop.processEvents();
    std::vector<std::string> found;
    for (const auto& toplevel : desktop.toplevels())
        if (toplevel.minimized == minimized) found.push_back(toplevel.title);
    std::ranges::sort(found);
    return found;
}

/// A session with programs' windows open, and the backend connected to it and installed.
class OnCompositor : public ::testing::Test {
protected:
    void open(Compositor which, const std::vector<std::pair<std::string, std::vector<std::string>>>& programs) {
        std::string error;
        ASSERT_TRUE(session_ = WaylandSession::start(which, error)) << error;
        auto connected = WaylandDesktop::connect(session_->display());
        ASSERT_TRUE(desktop_ = std::move(connected.desktop)) << connected.error;
        installed_.emplace(desktop_->backends());
        for (auto [appId, shown] : programs) {
            ASSERT_TRUE(programs_.emplace_back(session_->startWindows(appId, shown, error))) << error;
            // A program paints before the compositor maps: the next starts only
            // once these are mapped, or the focus could end on either.
            std::ranges::sort(shown);
            ASSERT_TRUE(waitUntil([&] { return std::ranges::includes(titles(*desktop_, false), shown); }));
        }
    }
    /// "app title" of each window the program would count, "*" marking the focused one.
    std::vector<std::string> rows() {
        desktop_->processEvents();
        const WindowSnapshot snapshot = AccessibilityWindowSource().snapshot();
        std::vector<std::string> shown;
        for (const auto& window : snapshot.windows)
            shown.push_back(window.applicationName + " " + window.title +
                            (window.id == snapshot.currentWindowID ? " *" : ""));
        return shown;
    }

    std::unique_ptr<WaylandSession> session_;
    std::vector<std::unique_ptr<Process>> programs_;
    std::unique_ptr<WaylandDesktop> desktop_;
    std::optional<platform::ScopedBackends> installed_;
};

// KWin is told through its scripting interface, as a user's own script would.
void runKWinScript(WaylandSession& session, const std::string& script) {
    const std::string file = session.home() + "/script.js";
    std::ofstream(file) << script;
    for (std::vector<std::string> call : {std::vector<std::string>{"loadScript", "string:" + file}, {"start"}}) {
        call[0] = "org.kde.kwin.Scripting." + call[0];
        call.insert(call.begin(), {"dbus-send", "--session", "--print-reply", "--dest=org.kde.KWin", "/Scripting"});
        x11::testing::runCommand(call, session.environment());
    }
}

class Compositors : public OnCompositor, public ::testing::WithParamInterface<Compositor> {};

TEST_P(Compositors, ListWindowsByProgramWithTheFocusAndLearnWhetherMinimizingWorks) {
    open(GetParam(), {{"maker.one", {"A1", "A2"}}, {"maker.two", {"B1"}}});
    int notices = 0, told = 0;
    desktop_->model().setNoticeHandler([&](const std::string&) { ++notices; });
    ASSERT_TRUE(desktop_->model().observeDesktopChanges([&] { ++told; }));
    // Programs apart, the newest window focused; each program's windows front
    // to back where the compositor tells the stacking (KWin), as announced otherwise.
    std::vector<std::string> all{"maker.one A2", "maker.one A1", "maker.two B1 *"};
    const bool stacked = GetParam() == Compositor::kwin;
    if (!stacked) std::ranges::sort(all);
    const auto ordered = [&] {
        auto shown = rows();
        if (!stacked) std::ranges::sort(shown);
        return shown;
    };
    EXPECT_TRUE(waitUntil([&] { return ordered() == all; })) << ::testing::PrintToString(rows());
    if (stacked) {
        // A1 raised above A2, then B1: KWin's stacking order says so, the order of activation alone would not.
        runKWinScript(*session_, "for (const title of ['A1', 'B1'])\n"
                                 "    for (const window of workspace.clientList())\n"
                                 "        if (window.caption == title) workspace.activeClient = window;\n");
        all = {"maker.one A1", "maker.one A2", "maker.two B1 *"};
        EXPECT_TRUE(waitUntil([&] { return rows() == all; })) << ::testing::PrintToString(rows());
    }

    for (const auto& window : AccessibilityWindowSource().snapshot().windows)
        ax::setAttributeValue(window.element, ax::kMinimizedAttribute, ax::Value::boolean(true));
    // KWin minimizes all but the focused one, which is never asked; sway
    // reads the requests and leaves them undone, which is learned, said once,
    // and then nothing counts any more.
    const auto left = stacked ? std::vector<std::string>{"maker.two B1 *"} : std::vector<std::string>{};
    EXPECT_TRUE(waitUntil([&] { return rows() == left; }, 5s)) << ::testing::PrintToString(rows());
    // Asked windows read as minimized at once; the compositor's word follows.
    EXPECT_TRUE(waitUntil([&] { return titles(*desktop_, true).size() == (stacked ? 2u : 0u); }));
    EXPECT_EQ(notices, stacked ? 0 : 1);
    EXPECT_TRUE(told > 0 || !stacked) << "KWin's minimizing, at least, is told";
}

TEST_F(OnCompositor, WindowsOnAnotherVirtualDesktopOfKWinAreOutOfSight) {
    open(Compositor::kwin, {{"maker.one", {"here", "away"}}});
    runKWinScript(*session_, "workspace.desktops = 2;\n"
                             "for (const window of workspace.clientList())\n"
                             "    if (window.caption == 'away') window.desktop = 2;\n");
    EXPECT_TRUE(waitUntil([&] { return rows() == std::vector<std::string>{"maker.one here"}; }))
        << ::testing::PrintToString(rows());
    runKWinScript(*session_, "workspace.currentDesktop = 2;\n");
    EXPECT_TRUE(waitUntil([&] { return rows().size() == 1 && rows()[0].starts_with("maker.one away"); }))
        << ::testing::PrintToString(rows());
}

TEST_F(OnCompositor, WindowsOpenOnSwayBeforeTheBackendConnectsRankInTheOrderTheyWereOpened) {
    const std::vector<std::string> opened{"W1", "W2", "W3", "W4", "W5", "W6"};
    open(Compositor::sway, {{"maker.one", opened}});
    // As Quellan starting among them: sway announces them newest first.
    auto connected = WaylandDesktop::connect(session_->display());
    ASSERT_TRUE(connected.desktop) << connected.error;
    platform::ScopedBackends joined(connected.desktop->backends());
    auto windows = AccessibilityWindowSource().snapshot().windows;
    std::ranges::sort(windows, {}, &ManagedWindow::stackingPosition);
    std::vector<std::string> ranked;
    for (const auto& window : windows)
        ranked.push_back(window.title);
    EXPECT_EQ(ranked, opened) << "least recently used first, the focused newest on top";
}

INSTANTIATE_TEST_SUITE_P(Desktops, Compositors, ::testing::Values(Compositor::kwin, Compositor::sway),
                         [](const auto& info) { return name(info.param); });

/// Runs the real program in `session`, its output joined.
std::unique_ptr<Process> startQuellan(WaylandSession& session, const std::string& bus, std::string& error) {
    return session.startProgram(
        {QUELLAN_PROGRAM}, error,
        {.environment = {{"DBUS_SESSION_BUS_ADDRESS", bus}}, .pipes = true, .errorToOutput = true});
}

TEST_F(OnCompositor, QuellanKeepsNativeWindowsOnKWinToTheLimitChosenInItsPanelMenu) {
    // Windows of four kinds, opened in this order: Qt, weston's own, an X11 one through Xwayland and GTK.
    open(Compositor::kwin, {{"maker.one", {"W1", "W2", "W3", "W4"}}});
    std::string error;
    programs_.push_back(session_->startProgram({"weston-terminal"}, error));
    ASSERT_TRUE(waitUntil([&] { return titles(*desktop_, false).size() == 5; })) << error;
    programs_.push_back(
        session_->startProgram({QUELLAN_WINDOW_MAKER_PATH, "--app-id", "maker.x11", "X11"}, error,
                               {.environment = {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", session_->xDisplay()}}}));
    ASSERT_TRUE(waitUntil([&] { return titles(*desktop_, false).size() == 6; })) << error;
    programs_.push_back(session_->startProgram({"zenity", "--info", "--title=Gtk", "--text=GTK"}, error,
                                               {.environment = {{"GDK_BACKEND", "wayland"}}}));
    ASSERT_TRUE(waitUntil([&] { return titles(*desktop_, false).size() == 7; })) << error;
    // The panel only hosts the icon: an X11 one does, whatever the session.
    auto server = x11::testing::XServer::start(error);
    auto panel = server ? e2e::PanelHost::start(server->display(), session_->home() + "/panel", error) : nullptr;
    ASSERT_NE(panel, nullptr) << error;
    std::filesystem::create_directories(session_->home() + "/config/quellan");
    std::ofstream(session_->home() + "/config/quellan/quellan.conf") << "windowLimit = 2\n";
    auto quellan = startQuellan(*session_, panel->busAddress(), error);
    ASSERT_TRUE(quellan && waitUntil([&] { return panel->findItem(); }, 30s)) << error;

    // Seen together at the start, they rank by KWin's stacking order: the order they were opened in.
    const auto minimized = [&] { return titles(*desktop_, true); };
    EXPECT_TRUE(waitUntil([&] {
        return minimized() == std::vector<std::string>{"W1", "W2", "W3", "W4", "Wayland Terminal"};
    })) << ::testing::PrintToString(minimized());
    ASSERT_TRUE(panel->choose("1"));
    EXPECT_TRUE(waitUntil([&] { return minimized().size() == 6; })) << ::testing::PrintToString(minimized());
    EXPECT_EQ(titles(*desktop_, false), std::vector<std::string>{"Gtk"}) << "the focused one stays";
    ASSERT_TRUE(panel->choose("Quit Quellan"));
    std::string said;
    EXPECT_EQ(quellan->exitCode(30s), 0) << e2e::collectOutput(*quellan, said);
}

TEST(Quellan, SaysWhatWorksAndEndsWhereTheCompositorOffersNoWindowManagement) {
    std::string error;
    auto session = WaylandSession::start(Compositor::weston, error);
    ASSERT_NE(session, nullptr) << error;
    // Told as the desktop's notification service hears it.
    auto notices = x11::testing::Process::spawn(
        {"dbus-monitor", "--address", session->busAddress(), "interface='org.freedesktop.Notifications'"},
        {.environment = {}, .pipes = true}, error);
    auto quellan = startQuellan(*session, session->busAddress(), error);
    ASSERT_TRUE(notices && quellan) << error;
    EXPECT_EQ(quellan->exitCode(10s), 1);
    const std::string works = "works with KDE Plasma (KWin); on GNOME through its own Shell extension";
    const auto said = quellan->readLine(1s).value_or("");
    EXPECT_NE(said.find(works), std::string::npos) << said;
    EXPECT_TRUE(waitUntil([&] { return notices->readLine(2s).value_or("").find(works) != std::string::npos; }));
}

} // namespace
} // namespace quellan::wayland::testing
