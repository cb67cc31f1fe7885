// The real program, build/quellan, on a real X desktop of the test's own:
// Xvfb, a window manager (openbox and fluxbox, which honour iconify
// requests differently), trayer as the tray host, and the scriptable test
// client's windows. The menu is driven as a person would, with the pointer
// and the keyboard through xdotool.
#include "DesktopSession.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace quellan::e2e {
namespace {

using namespace std::chrono_literals;
using namespace x11::testing;
using x11::WindowId;

// One tick is 0.35 s; the slack covers a loaded machine and the sanitizer build.
const auto kWithinATick = 3000ms * slowdown();
const auto kHoldFocus = 500ms * slowdown();

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class EndToEnd : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        std::string error;
        session_ = DesktopSession::start(GetParam(), error);
        ASSERT_NE(session_, nullptr) << error;
        probe_ = &session_->probe();
    }

    void TearDown() override {
        quellan_.reset();
        session_.reset();
    }

    std::filesystem::path settingsFile() const { return session_->settingsFile(); }
    void writeSettings(const std::string& text) { session_->writeSettings(text); }
    std::vector<std::string> visibleQuellanWindows() { return session_->visibleQuellanWindows(); }

    void startQuellan() {
        std::string error;
        quellan_ = session_->startQuellan(error);
        ASSERT_NE(quellan_, nullptr) << error;
    }

    /// Everything Quellan has written so far, standard error included.
    std::string said() {
        collectOutput(*quellan_, output_);
        return output_;
    }

    /// Opens the tray menu with a click and picks the `downs`-th enabled row.
    void chooseInMenu(int downs) {
        const std::string xdotool = "xdotool";
        const auto icon = visibleQuellanWindows();
        ASSERT_EQ(icon.size(), 1u);
        runCommand({xdotool, "mousemove", "--window", icon[0], "8", "8", "click", "1"}, session_->environment());
        ASSERT_TRUE(waitUntil([&] { return visibleQuellanWindows().size() == 2; }, 10s)) << "the menu did not open";
        // The menu takes the keyboard just after it is shown.
        std::this_thread::sleep_for(300ms * slowdown());
        for (int i = 0; i < downs; ++i)
            runCommand({xdotool, "key", "Down"}, session_->environment());
        runCommand({xdotool, "key", "Return"}, session_->environment());
        ASSERT_TRUE(waitUntil([&] { return visibleQuellanWindows().size() == 1; }, 10s)) << "the menu stayed open";
    }

    /// Opens a window and gives it the focus, as a person clicking it would.
    WindowId openFocused(const std::string& options = {}) {
        const WindowId window = probe_->create(options);
        EXPECT_NE(window, 0u);
        EXPECT_TRUE(probe_->waitManaged(window)) << window;
        focus(window);
        return window;
    }

    /// Focuses `window` and keeps the focus there for longer than a tick, as
    /// a person would: Quellan only knows the focus it sees when it scans.
    void focus(WindowId window) {
        probe_->activate(window);
        EXPECT_TRUE(waitUntil([&] { return probe_->activeWindow() == window; })) << window;
        std::this_thread::sleep_for(kHoldFocus);
    }

    bool iconic(WindowId window) { return e2e::iconic(*probe_, window); }

    bool becomesIconic(WindowId window, std::chrono::milliseconds limit = kWithinATick) {
        return waitUntil([&] { return iconic(window); }, limit);
    }

    std::vector<WindowId> iconicAmong(const std::vector<WindowId>& windows) {
        std::vector<WindowId> found;
        std::ranges::copy_if(windows, std::back_inserter(found), [&](WindowId window) { return iconic(window); });
        return found;
    }

    std::unique_ptr<DesktopSession> session_;
    Probe* probe_ = nullptr;
    std::unique_ptr<Process> quellan_;
    std::string output_;
};

TEST_P(EndToEnd, MinimizesTheLeastRecentlyFocusedBeyondTheLimitAndNeverTheFocused) {
    startQuellan();
    std::vector<WindowId> windows;
    for (int i = 0; i < 4; ++i)
        windows.push_back(openFocused("title=window-" + std::to_string(i)));
    // Four standard windows under the default limit of three: the first goes.
    EXPECT_TRUE(becomesIconic(windows[0])) << said();

    windows.push_back(openFocused("title=window-4"));
    EXPECT_TRUE(becomesIconic(windows[1])) << said();
    std::this_thread::sleep_for(1s * slowdown()); // about three ticks: nothing more may go
    EXPECT_EQ(iconicAmong(windows), (std::vector<WindowId>{windows[0], windows[1]}));
    EXPECT_EQ(probe_->activeWindow(), windows[4]);

    // Focus brought back to an older window: the least recent visible one goes now.
    focus(windows[2]);
    const WindowId newest = openFocused("title=window-5");
    EXPECT_TRUE(becomesIconic(windows[3])) << said();
    std::this_thread::sleep_for(1s * slowdown());
    EXPECT_FALSE(iconic(newest));
    EXPECT_FALSE(iconic(windows[2]));
    EXPECT_FALSE(iconic(windows[4]));
    EXPECT_TRUE(quellan_->running());
    EXPECT_EQ(said(), "");
}

TEST_P(EndToEnd, LimitChosenInTheMenuTakesEffectAtOnceAndSurvivesARestart) {
    writeSettings("windowLimit = 5\n");
    startQuellan();
    std::vector<WindowId> windows;
    for (int i = 0; i < 5; ++i)
        windows.push_back(openFocused("title=window-" + std::to_string(i)));
    std::this_thread::sleep_for(1s * slowdown());
    ASSERT_EQ(iconicAmong(windows), std::vector<WindowId>{})
        << ::testing::PrintToString(probe_->describeClients()) << said();

    // Rows "1" to "10" are the first enabled ones: three downs pick "3".
    chooseInMenu(3);
    EXPECT_TRUE(becomesIconic(windows[0])) << said();
    EXPECT_TRUE(becomesIconic(windows[1])) << said();
    EXPECT_NE(readFile(settingsFile()).find("windowLimit = 3\n"), std::string::npos) << readFile(settingsFile());

    // Ended as a session ends it, then started again: still three. (A new
    // run knows no focus history, so which older window goes is its choice.)
    ::kill(quellan_->pid(), SIGTERM);
    ASSERT_TRUE(waitUntil([&] { return !quellan_->running(); }));
    EXPECT_EQ(said(), "");
    output_.clear();
    startQuellan();
    windows.push_back(openFocused("title=window-5"));
    EXPECT_TRUE(waitUntil([&] { return iconicAmong(windows).size() == 3; }, kWithinATick)) << said();
    std::this_thread::sleep_for(1s * slowdown());
    EXPECT_EQ(iconicAmong(windows).size(), 3u);
    EXPECT_FALSE(iconic(windows.back()));
    EXPECT_NE(readFile(settingsFile()).find("windowLimit = 3\n"), std::string::npos);
}

TEST_P(EndToEnd, LosingTheDisplayEndsItWithAMessage) {
    writeSettings("windowLimit = 4\n");
    startQuellan();
    openFocused();
    session_->server().kill();
    ASSERT_TRUE(waitUntil([&] { return !quellan_->running(); }, 10s * slowdown())) << said();
    const int status = quellan_->waitStatus().value_or(0);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(said().find("quellan: stopped while still running (was the connection to the display lost?)"),
              std::string::npos)
        << said();
    // Nothing lost: the settings file is as it was.
    EXPECT_EQ(readFile(settingsFile()), "windowLimit = 4\n");
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, EndToEnd, ::testing::Values("openbox", "fluxbox"),
                         [](const auto& info) { return info.param; });

} // namespace
} // namespace quellan::e2e
