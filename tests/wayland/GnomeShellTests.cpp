// Quellan on a headless GNOME Shell 43 with its own Shell extension and the
// AppIndicator extension: Wayland, GTK and X11 (Xwayland) windows kept to
// the limit, the menu the shell draws for its icon, another program
// refused, and the extension turned off and on under a running Quellan.
// The shell is driven through Eval, as a person's clicks would.
#include "DesktopSession.hpp"
#include "WaylandSession.hpp"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace quellan::wayland::testing {
namespace {

using x11::testing::waitUntil;

const std::string kExtension = "quellan@quellan.org";
const std::string kAppIndicator = "ubuntu-appindicators@ubuntu.com";

/// `text` as a JavaScript string literal.
std::string quoted(const std::string& text) {
    std::string literal = "'";
    for (const char c : text)
        literal += c == '\'' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return literal + "'";
}

class GnomeShell : public ::testing::Test {
protected:
    // One shell for all the cases: it takes seconds to start.
    static void SetUpTestSuite() {
        GnomeShellOptions options{.extensionFolders = {QUELLAN_GNOME_EXTENSION},
                                  .enabledExtensions = {kExtension},
                                  .appIndicator = true,
                                  .environment = {{"QUELLAN_TEST_CALLER", QUELLAN_PROGRAM}}};
        session_ = WaylandSession::start(Compositor::gnome, startError_, options);
    }
    static void TearDownTestSuite() { session_.reset(); }
    void SetUp() override { ASSERT_NE(session_, nullptr) << startError_; }

    /// What `code` evaluates to in the shell, or the error.
    static std::string eval(const std::string& code) {
        std::string error;
        return session_->eval(code, error).value_or("error: " + error);
    }
    static std::string windowNamed(const std::string& title) {
        return "global.display.list_all_windows().find(w => w.get_title() === " + quoted(title) + ")";
    }
    /// The titles of the minimized windows, sorted, as the shell has them.
    static std::string minimized() {
        return eval("global.display.list_all_windows().filter(w => w.minimized).map(w => w.get_title()).sort()"
                    ".join('|')");
    }
    /// Focuses the window titled `title` as a click would, again while a
    /// window that mapped just before takes the focus from it.
    static bool focus(const std::string& title) {
        const std::string window = windowNamed(title);
        return waitUntil([&] {
            return eval("(w => { imports.ui.main.activateWindow(w, global.display.get_current_time_roundtrip());"
                        " return w.has_focus(); })(" +
                        window + ")") == "true";
        });
    }
    static bool opened(const std::string& title) {
        return waitUntil([&] { return eval(windowNamed(title) + " !== undefined") == "true"; }, 20s);
    }
    /// Opens Quellan's menu where the AppIndicator extension draws it, and
    /// chooses the row labelled `label` (in a submenu too): the shell tells
    /// the program over com.canonical.dbusmenu, as for any click.
    static std::string choose(const std::string& label) {
        const std::string script =
            "(() => { const Main = imports.ui.main;"
            " const icon = Object.values(Main.panel.statusArea).find(i => i?._indicator?.id === 'quellan');"
            " if (!icon) return 'no icon'; icon.menu.open();"
            " const find = items => { for (const item of items) {"
            "   if (item.label?.text === " +
            quoted(label) +
            ") return item;"
            "   const inner = item.menu && item.menu !== icon.menu ? find(item.menu._getMenuItems()) : null;"
            "   if (inner) return inner; } return null; };"
            " const row = find(icon.menu._getMenuItems()); if (!row) return 'no row';"
            " const Clutter = imports.gi.Clutter; row.activate(Clutter.Event.new(Clutter.EventType.BUTTON_RELEASE));"
            " icon.menu.close(); return 'chosen'; })()";
        std::string said;
        waitUntil([&] { return (said = eval(script)) == R"("chosen")"; }, 20s);
        return said;
    }
    static std::unique_ptr<Process> startQuellan(std::string& error) {
        return session_->startProgram({QUELLAN_PROGRAM}, error,
                                      {.environment = {}, .pipes = true, .errorToOutput = true});
    }
    static void setLimit(int limit) {
        std::filesystem::create_directories(session_->home() + "/config/quellan");
        std::ofstream(session_->home() + "/config/quellan/quellan.conf") << "windowLimit = " << limit << "\n";
    }

    static inline std::unique_ptr<WaylandSession> session_;
    static inline std::string startError_;
};

TEST_F(GnomeShell, QuellanKeepsWaylandGtkAndX11WindowsToTheLimitChosenInTheMenuTheShellDraws) {
    std::string error;
    std::vector<std::unique_ptr<Process>> programs;
    programs.push_back(session_->startWindows("maker.gnome", {"Qt"}, error));
    ASSERT_TRUE(opened("Qt")) << error;
    programs.push_back(session_->startProgram({"weston-terminal"}, error));
    ASSERT_TRUE(opened("Wayland Terminal")) << error;
    programs.push_back(
        session_->startProgram({QUELLAN_WINDOW_MAKER_PATH, "--app-id", "maker.x11", "X11"}, error,
                               {.environment = {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", session_->xDisplay()}}}));
    ASSERT_TRUE(opened("X11")) << error;
    programs.push_back(session_->startProgram({"zenity", "--info", "--title=Gtk", "--text=GTK"}, error,
                                              {.environment = {{"GDK_BACKEND", "wayland"}}}));
    ASSERT_TRUE(opened("Gtk")) << error;
    // Used in this order: the terminal and Qt least recently.
    for (const char* title : {"Wayland Terminal", "Qt", "X11", "Gtk"})
        ASSERT_TRUE(focus(title)) << title;

    setLimit(2);
    auto quellan = startQuellan(error);
    ASSERT_NE(quellan, nullptr) << error;
    std::string said;
    EXPECT_TRUE(waitUntil([&] { return minimized() == R"("Qt|Wayland Terminal")"; }, 30s))
        << minimized() << e2e::collectOutput(*quellan, said);

    // Brought back and used: the least recently used of those in sight goes instead.
    const auto restoredAt = std::chrono::steady_clock::now();
    eval(windowNamed("Qt") + ".unminimize()");
    ASSERT_TRUE(focus("Qt"));
    EXPECT_TRUE(waitUntil([&] { return minimized() == R"("Wayland Terminal|X11")"; }))
        << minimized() << e2e::collectOutput(*quellan, said)
        << eval("global.display.list_all_windows().map(w => w.get_title() + ' ' + w.minimized + ' ' + w.has_focus() + "
                "' ' + w.get_workspace()?.index())");
    RecordProperty("restored_window_answered_ms",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - restoredAt)
                                        .count()));

    ASSERT_EQ(choose("1"), R"("chosen")");
    EXPECT_TRUE(waitUntil([&] { return minimized() == R"("Gtk|Wayland Terminal|X11")"; })) << minimized();
    ASSERT_EQ(choose("Quit Quellan"), R"("chosen")");
    EXPECT_EQ(quellan->exitCode(30s), 0) << e2e::collectOutput(*quellan, said);
    EXPECT_EQ(eval(windowNamed("Qt") + ".has_focus()"), "true") << "the focused window is never touched";
}

TEST_F(GnomeShell, TheExtensionAnswersNoOtherProgram) {
    const QString bus = QString::fromStdString(session_->busAddress());
    const auto reply = QDBusConnection::connectToBus(bus, "other")
                           .call(QDBusMessage::createMethodCall("org.quellan.GnomeShell", "/org/quellan/GnomeShell",
                                                                "org.quellan.GnomeShell.Windows", "GetWindows"));
    EXPECT_EQ(reply.errorName(), "org.freedesktop.DBus.Error.AccessDenied") << reply.errorMessage().toStdString();
}

TEST_F(GnomeShell, QuellanSaysWhatToDoWhileEitherExtensionIsOffAndGoesOnWhenItIsOn) {
    std::string error;
    auto notices = x11::testing::Process::spawn(
        {"dbus-monitor", "--address", session_->busAddress(), "interface='org.freedesktop.Notifications'"},
        {.environment = {}, .pipes = true}, error);
    ASSERT_TRUE(notices) << error;
    const auto told = [&](Process& process, const std::string& text) {
        return waitUntil([&] { return process.readLine(1s).value_or("").find(text) != std::string::npos; }, 20s);
    };
    // No icon without the AppIndicator extension: said, and waited for.
    ASSERT_TRUE(session_->setExtensionEnabled(kAppIndicator, false, error)) << error;
    setLimit(1);
    auto quellan = startQuellan(error);
    ASSERT_TRUE(quellan) << error;
    const std::string trayHelp = "gnome-extensions enable " + kAppIndicator;
    EXPECT_TRUE(told(*quellan, trayHelp));
    EXPECT_TRUE(told(*notices, trayHelp));
    ASSERT_TRUE(session_->setExtensionEnabled(kAppIndicator, true, error)) << error;
    std::vector<std::unique_ptr<Process>> programs;
    programs.push_back(session_->startWindows("maker.first", {"First"}, error));
    ASSERT_TRUE(opened("First")) << error;
    ASSERT_TRUE(session_->setExtensionEnabled(kExtension, false, error)) << error;
    const std::string help = "gnome-extensions enable " + kExtension;
    EXPECT_TRUE(told(*quellan, help));
    EXPECT_TRUE(told(*notices, help));
    programs.push_back(session_->startWindows("maker.second", {"Second"}, error));
    ASSERT_TRUE(opened("Second") && focus("Second")) << error;
    EXPECT_EQ(minimized(), R"("")") << "nothing is known without the extension";

    ASSERT_TRUE(session_->setExtensionEnabled(kExtension, true, error)) << error;
    std::string said;
    EXPECT_TRUE(waitUntil([&] { return minimized() == R"("First")"; }, 20s))
        << minimized() << e2e::collectOutput(*quellan, said);
}

} // namespace
} // namespace quellan::wayland::testing
