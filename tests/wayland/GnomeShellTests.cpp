// GNOME Shell as the tests' headless desktop: it takes Wayland windows and
// X11 ones through its Xwayland, runs the extensions it is given with the
// environment it is given, enables and disables them on request, and hosts
// a StatusNotifierWatcher while the app indicator extension runs.
#include "WaylandSession.hpp"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace quellan::wayland::testing {
namespace {

using x11::testing::waitUntil;

const std::string kProbe = "probe@tests.quellan";
const std::string kAppIndicator = "ubuntu-appindicators@ubuntu.com";

class GnomeShell : public ::testing::Test {
protected:
    // One shell for all the cases: it takes seconds to start.
    static void SetUpTestSuite() {
        // An extension that tells what it was started with, and forgets it when disabled.
        folder_ = std::make_unique<x11::testing::TemporaryFolder>("extension");
        std::ofstream(folder_->path() + "/metadata.json")
            << R"({"name": "Probe", "description": "-", "uuid": ")" << kProbe << R"(", "shell-version": ["43"]})";
        std::ofstream(folder_->path() + "/extension.js")
            << "function init() {}\n"
               "function enable() { global.probeCaller = imports.gi.GLib.getenv('QUELLAN_TEST_CALLER'); }\n"
               "function disable() { delete global.probeCaller; }\n";
        GnomeShellOptions options{.extensionFolders = {folder_->path()},
                                  .enabledExtensions = {kProbe},
                                  .appIndicator = true,
                                  .environment = {{"QUELLAN_TEST_CALLER", "/the/caller"}}};
        session_ = WaylandSession::start(Compositor::gnome, startError_, options);
    }
    static void TearDownTestSuite() {
        session_.reset();
        folder_.reset();
    }
    void SetUp() override { ASSERT_NE(session_, nullptr) << startError_; }

    /// What `code` evaluates to in the shell, or the error.
    static std::string eval(const std::string& code) {
        std::string error;
        return session_->eval(code, error).value_or("error: " + error);
    }
    static bool watcherOnBus() {
        const QString bus = QString::fromStdString(session_->busAddress());
        return QDBusConnection::connectToBus(bus, bus).interface()->isServiceRegistered(
            "org.kde.StatusNotifierWatcher");
    }

    static inline std::unique_ptr<x11::testing::TemporaryFolder> folder_;
    static inline std::unique_ptr<WaylandSession> session_;
    static inline std::string startError_;
};

TEST_F(GnomeShell, TakesWaylandWindowsAndX11OnesThroughItsXwayland) {
    std::string error;
    auto maker = session_->startWindows("maker.gnome", {"Native"}, error);
    auto terminal = session_->startProgram({"weston-terminal"}, error);
    ASSERT_FALSE(session_->xDisplay().empty());
    auto x11 = session_->startProgram(
        {QUELLAN_WINDOW_MAKER_PATH, "--app-id", "maker.x11", "X11"}, error,
        {.environment = {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", session_->xDisplay()}}, .pipes = true});
    ASSERT_TRUE(maker && terminal && x11) << error;
    EXPECT_EQ(x11->readLine(20s), "opened X11") << "the X11 client reached Xwayland";

    // Each by its client kind (Meta.WindowClientType: 0 Wayland, 1 X11) and class; the shell's own left out.
    const std::string windows = "global.display.list_all_windows().filter(w => !w.is_override_redirect())"
                                ".map(w => ['wayland', 'x11'][w.get_client_type()] + ' ' + w.get_wm_class())"
                                ".sort().join(', ')";
    const std::string expected =
        R"("wayland maker.gnome, wayland org.freedesktop.weston.wayland-terminal, x11 quellan_wayland_window_maker")";
    EXPECT_TRUE(waitUntil([&] { return eval(windows) == expected; }, 20s)) << eval(windows);
}

TEST_F(GnomeShell, RunsTheExtensionsItIsGivenWithItsEnvironmentAndTogglesThem) {
    EXPECT_EQ(eval("global.probeCaller"), R"("/the/caller")");
    std::string error;
    ASSERT_TRUE(session_->setExtensionEnabled(kProbe, false, error)) << error;
    EXPECT_EQ(eval("global.probeCaller"), "");
    ASSERT_TRUE(session_->setExtensionEnabled(kProbe, true, error)) << error;
    EXPECT_EQ(eval("global.probeCaller"), R"("/the/caller")");
    EXPECT_FALSE(session_->setExtensionEnabled("none@tests.quellan", true, error));
    EXPECT_EQ(eval("throw new Error('thrown')"), "error: Error: thrown");
}

TEST_F(GnomeShell, HostsAStatusNotifierWatcherWhileTheAppIndicatorExtensionRuns) {
    EXPECT_TRUE(waitUntil(watcherOnBus));
    std::string error;
    ASSERT_TRUE(session_->setExtensionEnabled(kAppIndicator, false, error)) << error;
    EXPECT_TRUE(waitUntil([] { return !watcherOnBus(); }));
    ASSERT_TRUE(session_->setExtensionEnabled(kAppIndicator, true, error)) << error;
    EXPECT_TRUE(waitUntil(watcherOnBus));
}

} // namespace
} // namespace quellan::wayland::testing
