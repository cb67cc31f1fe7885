// Quellan on headless Wayland compositors: the backend against KWin, which
// minimizes when asked, and sway, which does not; the real program on KWin,
// its icon in a status notifier panel whose menu the test drives over
// D-Bus, and on weston, which offers no window management at all.
#include "PanelSession.hpp"
#include "Platform/wayland/WaylandDesktop.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"
#include "WaylandSession.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

namespace quellan::wayland::testing {
namespace {

using x11::testing::waitUntil;

/// The session's socket as a path, which a client of any runtime folder reaches.
std::string socketOf(const WaylandSession& session) {
    const std::string& display = session.display();
    return display.starts_with('/') ? display : session.environment().at("XDG_RUNTIME_DIR") + "/" + display;
}

/// Titles of the toplevels that are (or are not) minimized, as `desktop` last heard.
std::vector<std::string> titles(WaylandDesktop& desktop, bool minimized) {
    desktop.processEvents();
    std::vector<std::string> found;
    for (const auto& toplevel : desktop.toplevels())
        if (toplevel.minimized == minimized) found.push_back(toplevel.title);
    std::ranges::sort(found);
    return found;
}

class Compositors : public ::testing::TestWithParam<Compositor> {};

TEST_P(Compositors, ListWindowsByProgramWithTheFocusAndLearnWhetherMinimizingWorks) {
    std::string error;
    auto session = WaylandSession::start(GetParam(), error);
    ASSERT_NE(session, nullptr) << error;
    auto one = session->startWindows("maker.one", error), two = session->startWindows("maker.two", error);
    ASSERT_TRUE(one && two) << error;
    ASSERT_TRUE(one->open("A1") && one->open("A2") && two->open("B1"));
    auto connected = WaylandDesktop::connect(socketOf(*session));
    ASSERT_NE(connected.desktop, nullptr) << connected.error;
    WaylandDesktop& desktop = *connected.desktop;
    int notices = 0;
    desktop.setNoticeHandler([&](const std::string&) { ++notices; });
    const platform::ScopedBackends installed(desktop.backends());
    const auto rows = [&] {
        desktop.processEvents();
        const WindowSnapshot snapshot = AccessibilityWindowSource().snapshot();
        std::vector<std::string> shown;
        for (const auto& window : snapshot.windows)
            shown.push_back(window.applicationName + " " + window.title +
                            (window.id == snapshot.currentWindowID ? " *" : ""));
        return shown;
    };
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

    for (const auto& window : AccessibilityWindowSource().snapshot().windows)
        ax::setAttributeValue(window.element, ax::kMinimizedAttribute, ax::Value::boolean(true));
    // KWin minimizes them; sway ignores the requests, which is learned once they
    // go unanswered, said once, and then nothing counts any more.
    EXPECT_TRUE(waitUntil([&] { return rows().empty(); }, 5s)) << ::testing::PrintToString(rows());
    EXPECT_EQ(titles(desktop, true).size(), GetParam() == Compositor::kwin ? 3u : 0u);
    EXPECT_EQ(notices, GetParam() == Compositor::kwin ? 0 : 1);
}

// KWin is told through its scripting interface, as a user's own script would.
void runKWinScript(WaylandSession& session, const std::string& script) {
    const std::string file = session.home() + "/script.js";
    std::ofstream(file) << script;
    const auto send = [&](const std::string& method, const std::string& argument) {
        std::vector<std::string> call{"dbus-send",           "--session",  "--print-reply",
                                      "--dest=org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting." + method};
        if (!argument.empty()) call.push_back(argument);
        return x11::testing::runCommand(call, session.environment());
    };
    send("unloadScript", "string:quellan-test");
    send("loadScript", "string:" + file);
    send("start", "");
}

TEST(KWin, WindowsOnAnotherVirtualDesktopAreOutOfSight) {
    std::string error;
    auto session = WaylandSession::start(Compositor::kwin, error);
    ASSERT_NE(session, nullptr) << error;
    auto windows = session->startWindows("maker.one", error);
    ASSERT_TRUE(windows && windows->open("here") && windows->open("away")) << error;
    auto connected = WaylandDesktop::connect(socketOf(*session));
    ASSERT_NE(connected.desktop, nullptr) << connected.error;
    const platform::ScopedBackends installed(connected.desktop->backends());
    const auto shown = [&] {
        connected.desktop->processEvents();
        std::vector<std::string> titles;
        for (const auto& window : AccessibilityWindowSource().snapshot().windows)
            titles.push_back(window.title);
        return titles;
    };
    runKWinScript(*session, "workspace.desktops = 2;\n"
                            "for (const window of workspace.clientList())\n"
                            "    if (window.caption == 'away') window.desktop = 2;\n");
    EXPECT_TRUE(waitUntil([&] { return shown() == std::vector<std::string>{"here"}; }))
        << ::testing::PrintToString(shown());
    runKWinScript(*session, "workspace.currentDesktop = 2;\n");
    EXPECT_TRUE(waitUntil([&] { return shown() == std::vector<std::string>{"away"}; }))
        << ::testing::PrintToString(shown());
}

INSTANTIATE_TEST_SUITE_P(Desktops, Compositors, ::testing::Values(Compositor::kwin, Compositor::sway),
                         [](const auto& info) { return name(info.param); });

/// Runs the real program in `session`, its output joined.
std::unique_ptr<Process> startQuellan(WaylandSession& session, const std::string& bus, std::string& error) {
    return session.startProgram(
        {QUELLAN_PROGRAM}, error,
        {.environment = {{"DBUS_SESSION_BUS_ADDRESS", bus}}, .pipes = true, .errorToOutput = true});
}

TEST(Quellan, KeepsNativeWindowsOnKWinToTheLimitChosenInItsPanelMenu) {
    std::string error;
    auto session = WaylandSession::start(Compositor::kwin, error);
    ASSERT_NE(session, nullptr) << error;
    // The panel only hosts the icon: an X11 one does, whatever the session.
    auto server = x11::testing::XServer::start(error);
    ASSERT_NE(server, nullptr) << error;
    auto panel = e2e::PanelHost::start(server->display(), session->home() + "/panel", error);
    ASSERT_NE(panel, nullptr) << error;
    auto windows = session->startWindows("maker.one", error);
    ASSERT_NE(windows, nullptr) << error;
    for (const char* title : {"W1", "W2", "W3", "W4"})
        ASSERT_TRUE(windows->open(title));
    std::filesystem::create_directories(session->home() + "/config/quellan");
    std::ofstream(session->home() + "/config/quellan/quellan.conf") << "windowLimit = 2\n";
    auto quellan = startQuellan(*session, panel->busAddress(), error);
    ASSERT_NE(quellan, nullptr) << error;
    ASSERT_TRUE(waitUntil([&] { return panel->findItem(); }, 30s));

    auto connected = WaylandDesktop::connect(socketOf(*session));
    ASSERT_NE(connected.desktop, nullptr) << connected.error;
    const auto minimized = [&] { return titles(*connected.desktop, true); };
    EXPECT_TRUE(waitUntil([&] {
        return minimized() == std::vector<std::string>{"W1", "W2"};
    })) << ::testing::PrintToString(minimized());
    ASSERT_TRUE(panel->choose("1"));
    EXPECT_TRUE(waitUntil([&] { return minimized() == std::vector<std::string>{"W1", "W2", "W3"}; }));
    EXPECT_EQ(titles(*connected.desktop, false), std::vector<std::string>{"W4"}) << "the focused one stays";
    ASSERT_TRUE(panel->choose("Quit Quellan"));
    EXPECT_TRUE(waitUntil([&] { return !quellan->running(); }, 30s));
    EXPECT_EQ(quellan->waitStatus().value_or(-1), 0);
}

TEST(Quellan, SaysWhatWorksAndEndsWhereTheCompositorOffersNoWindowManagement) {
    std::string error;
    auto session = WaylandSession::start(Compositor::weston, error);
    ASSERT_NE(session, nullptr) << error;
    auto quellan = startQuellan(*session, session->busAddress(), error);
    ASSERT_NE(quellan, nullptr) << error;
    ASSERT_TRUE(waitUntil([&] { return !quellan->running(); }));
    const int status = quellan->waitStatus().value_or(0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    const auto said = quellan->readLine(1s).value_or("");
    EXPECT_NE(said.find("KDE Plasma (KWin) and with wlroots compositors"), std::string::npos) << said;
}

} // namespace
} // namespace quellan::wayland::testing
