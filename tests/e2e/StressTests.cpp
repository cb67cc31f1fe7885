// The real program under load and faults on a real X desktop: hundreds of
// windows made and destroyed quickly around windows that must never be
// touched, the window manager restarting under it, and a clean end
// afterwards. In the sanitizer build the clean end is also the leak check
// (LeakSanitizer reports at exit); QUELLAN_UNDER runs it under valgrind.
#include "DesktopSession.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <optional>
#include <sstream>
#include <string_view>
#include <sys/wait.h>
#include <thread>

namespace quellan::e2e {
namespace {

using namespace std::chrono_literals;
using namespace x11::testing;

// Generous: the churn loads the machine, and valgrind slows Quellan down.
constexpr auto kSettle = 15s;

class Stress : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        session_ = DesktopSession::start("openbox", error);
        ASSERT_NE(session_, nullptr) << error;
    }

    void startQuellan(const std::string& settings) {
        session_->writeSettings(settings);
        std::string error;
        quellan_ = session_->startQuellan(error);
        ASSERT_NE(quellan_, nullptr) << error;
    }

    WindowId open(const std::string& options, bool managedWithActions = true) {
        const WindowId window = session_->probe().create(options);
        EXPECT_NE(window, 0u) << options;
        EXPECT_TRUE(session_->probe().waitManaged(window, managedWithActions)) << options;
        return window;
    }

    bool iconic(WindowId window) { return e2e::iconic(session_->probe(), window); }

    /// Everything Quellan has said so far, standard error included.
    std::string said() {
        collectOutput(*quellan_, output_);
        return output_;
    }

    /// Ends Quellan as a session does and expects a clean, silent end.
    /// Lines starting with `allowed`, if given, may be among what it said.
    void expectCleanEnd(std::optional<std::string_view> allowed = std::nullopt) {
        ::kill(quellan_->pid(), SIGTERM);
        ASSERT_TRUE(waitUntil([&] { return !quellan_->running(); }, 60s)) << said();
        const int status = quellan_->waitStatus().value_or(-1);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << "; it said:\n" << said();
        std::istringstream lines(said());
        for (std::string line; std::getline(lines, line);)
            EXPECT_TRUE(allowed && line.starts_with(*allowed)) << line;
    }

    std::unique_ptr<DesktopSession> session_;
    std::unique_ptr<Process> quellan_;
    std::string output_;
};

TEST_F(Stress, HundredsOfWindowsComingAndGoingNeverTouchWhatDoesNotCount) {
    startQuellan("windowLimit = 1\n");
    auto& probe = session_->probe();
    // None of these is a visible standard window of a local application.
    const WindowId minimized = probe.create("iconic title=keep-minimized");
    ASSERT_TRUE(probe.waitManaged(minimized, false));
    const WindowId dialog = open("type=dialog title=keep-dialog");
    const std::vector<WindowId> untouchable{
        dialog,
        open("transient=" + std::to_string(dialog) + " title=keep-transient"),
        open("type=utility title=keep-utility"),
        open("type=splash title=keep-splash", false),
        open("state=skip_taskbar title=keep-off-taskbar"),
        open("machine=elsewhere.example title=keep-remote"),
        open("title=keep-other-desktop"),
    };
    // The window manager puts new windows on the current desktop; moved away, it is not visible.
    probe.moveToDesktop(untouchable.back(), 1);
    ASSERT_TRUE(waitUntil(
        [&] { return probe.cardinals(untouchable.back(), "_NET_WM_DESKTOP") == std::vector<std::uint32_t>{1}; }));
    const WindowId steady = open("title=steady");
    probe.activate(steady);
    ASSERT_TRUE(waitUntil([&] { return probe.activeWindow() == steady; }));
    std::this_thread::sleep_for(1s);
    // Asked for, not only done: window managers iconify windows of other desktops themselves.
    probe.recordIconifyRequests();
    const auto askedFor = [&](WindowId window) { return std::ranges::count(probe.iconifyRequests(), window) > 0; };

    const auto sorted = [](std::vector<WindowId> windows) {
        std::ranges::sort(windows);
        return windows;
    };
    const auto before = sorted(probe.clientList());
    for (int round = 0; round < 3; ++round)
        probe.churn(300);
    ASSERT_TRUE(waitUntil([&] { return sorted(probe.clientList()) == before; }, kSettle)) << "churn windows left";
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(quellan_->running()) << said();

    // Still counting after it all: focus back on the steady window, then a
    // newer one: the steady one goes, the newest stays.
    probe.activate(steady);
    ASSERT_TRUE(waitUntil([&] { return probe.activeWindow() == steady && !iconic(steady); }, kSettle));
    std::this_thread::sleep_for(1s);
    const WindowId newest = open("title=newest");
    probe.activate(newest);
    EXPECT_TRUE(waitUntil([&] { return iconic(steady); }, kSettle)) << said();
    EXPECT_TRUE(askedFor(steady)) << "requests are seen";
    std::this_thread::sleep_for(1s);
    EXPECT_FALSE(iconic(newest));
    EXPECT_FALSE(askedFor(newest));
    for (const WindowId window : untouchable) {
        EXPECT_FALSE(askedFor(window)) << "asked to iconify " << window;
        if (window != untouchable.back()) {
            EXPECT_FALSE(iconic(window)) << "touched " << window;
        }
    }
    EXPECT_FALSE(askedFor(minimized));
    EXPECT_TRUE(iconic(minimized));
    expectCleanEnd();
}

TEST_F(Stress, WindowManagerRestartingUnderItIsRidden) {
    startQuellan("windowLimit = 2\n");
    auto& probe = session_->probe();
    std::vector<WindowId> windows;
    for (int i = 0; i < 2; ++i)
        windows.push_back(open("title=before-" + std::to_string(i)));

    for (int restart = 0; restart < 2; ++restart) {
        std::string error;
        ASSERT_TRUE(session_->restartWindowManager(error)) << error;
        std::this_thread::sleep_for(1s);
        EXPECT_TRUE(quellan_->running()) << said();
    }
    // The new window manager has adopted the windows: the limit holds again.
    const WindowId third = open("title=after");
    probe.activate(third);
    ASSERT_TRUE(waitUntil([&] { return probe.activeWindow() == third; }));
    EXPECT_TRUE(waitUntil([&] { return iconic(windows[0]) || iconic(windows[1]); }, kSettle)) << said();
    std::this_thread::sleep_for(1s);
    EXPECT_FALSE(iconic(third));
    EXPECT_FALSE(iconic(windows[0]) && iconic(windows[1]));
    // While no window manager runs, Quellan may say which kind it needs.
    expectCleanEnd("quellan: the window manager does not publish its client list");
}

} // namespace
} // namespace quellan::e2e
