// The application shell over the simulated desktop, run loop and framework:
// launch, the status item and its menu, and the commands.
#include "Platform/simulated/SimulatedFramework.hpp"
#include "Quellan/AppDelegate.hpp"
#include "Quellan/Launch.hpp"
#include "Support.hpp"

#include <gtest/gtest.h>

namespace quellan {
namespace {

using Lines = std::vector<std::string>;

/// One line per item: checkmark, title, quoted runs, action, number, disabled, key, submenu.
Lines describe(const appkit::Menu& menu) {
    Lines lines;
    for (const auto& item : menu.items()) {
        std::string line = (item.state == appkit::ControlState::on ? "[x] " : "") + item.title;
        for (const auto& quoted : item.quotedRanges)
            line += " [" + item.title.substr(quoted.location, quoted.length) + "]";
        if (item.action) line += " -> " + *item.action;
        if (const auto number = item.integerRepresentedObject()) line += " #" + std::to_string(*number);
        if (!item.enabled) line += " (disabled)";
        if (!item.keyEquivalent.empty()) line += " key " + item.keyEquivalent;
        if (item.submenu) line += " > " + describe(*item.submenu).back();
        lines.push_back(item.isSeparator ? "---" : line);
    }
    return lines;
}

/// The whole menu for a state; the active-window submenu shows its last row.
Lines expectedMenu(bool trusted, std::int64_t limit, std::optional<std::int64_t> inactive, std::string status,
                   std::size_t rows, std::string lastRow) {
    Lines lines{"Velquor (disabled)", "---", "Window limit (disabled)"};
    for (int v = 1; v <= 10; ++v)
        lines.push_back((v == limit ? "[x] " : "") + std::to_string(v) + " -> selectLimit: #" + std::to_string(v));
    lines.insert(lines.end(), {"---", "Minimize inactive windows (disabled)",
                               std::string(inactive ? "" : "[x] ") + "Off -> selectInactiveMinutes:"});
    for (const int m : {1, 5, 10, 15, 30, 60})
        lines.push_back(std::string(inactive == m ? "[x] " : "") + std::to_string(m) +
                        (m == 1 ? " minute" : " minutes") + " -> selectInactiveMinutes: #" + std::to_string(m));
    lines.insert(lines.end(), {"---", status + " (disabled)",
                               "Active Windows (" + std::to_string(rows) + ")" + (trusted ? "" : " (disabled)") +
                                   " > " + lastRow + " (disabled)"});
    if (!trusted)
        lines.insert(lines.end(), {"Grant Accessibility Access\u2026 -> grantAccessibilityAccess",
                                   "Open Accessibility Settings\u2026 -> openAccessibilitySettings"});
    lines.insert(lines.end(), {std::string("Check Now -> checkNow") + (trusted ? "" : " (disabled)"), "---",
                               "Quit Quellan -> quitApplication key q"});
    return lines;
}

struct ShellFixture {
    simulated::SimulatedDesktop desktop;
    simulated::SimulatedRunLoop runLoop{desktop.time};
    platform::ScopedBackends installed{testing_support::withRunLoop(desktop, runLoop)};
    simulated::SimulatedFramework framework;
    std::shared_ptr<platform::InMemoryUserDefaults> defaults = std::make_shared<platform::InMemoryUserDefaults>();

    ShellFixture() {
        appkit::installFramework(&framework);
        platform::installStandardUserDefaults(defaults);
        desktop.addApplication(100, "Notes");
        desktop.addApplication(200, "Mail");
    }
    ~ShellFixture() {
        platform::installStandardUserDefaults(nullptr);
        appkit::installFramework(nullptr);
    }
    simulated::SimulatedStatusItem& item() { return *framework.statusItems.at(0); }
    Lines menu() { return describe(*item().menu()); }
};

TEST(AppShell, UntrustedLaunchShowsTheWarningAndTheAccessCommands) {
    ShellFixture f;
    f.desktop.trusted = false;
    f.defaults->setInteger(5, WindowMonitor::windowLimitKey);
    f.defaults->setInteger(15, WindowMonitor::inactiveMinutesKey);
    f.defaults->setBool(true, WindowMonitor::inactiveMinimizeEnabledKey);
    f.framework.whileRunning = [&] {
        EXPECT_EQ(f.menu(), expectedMenu(false, 5, 15, "Accessibility access required", 0, "No active windows"));
        EXPECT_EQ(f.item().image, (appkit::Image{"exclamationmark.triangle", "Quellan needs access"}));
        EXPECT_EQ(f.item().toolTip, "Quellan needs Accessibility access");
        EXPECT_FALSE(f.item().choose("Check Now")) << "disabled while untrusted";
        f.item().choose("Open Accessibility Settings\u2026");
        f.desktop.promptGrantsTrust = true;
        EXPECT_TRUE(f.item().choose("Grant Accessibility Access\u2026"));
        EXPECT_EQ(f.menu(), expectedMenu(true, 5, 15, "0 windows active", 0, "No active windows"));
        f.item().choose("Quit Quellan");
        EXPECT_EQ(f.runLoop.validTimers(), 0u) << "stopped before the process ends";
    };
    EXPECT_EQ(runApplication(), 0);
    EXPECT_EQ(f.framework.events, (Lines{"setDelegate", "setActivationPolicy", "run", "terminate", "run returned"}));
    EXPECT_EQ(f.desktop.openedURLs(), Lines{std::string(AppDelegate::accessibilitySettingsURL)});
}

TEST(AppShell, ChoicesArePersistedAppliedAndShownBeforeTheCommandReturns) {
    ShellFixture f;
    f.desktop.tellsChanges = true;
    for (const char* title : {"a", "b"})
        f.desktop.addWindow(100, title);
    f.desktop.focus(f.desktop.addWindow(200, "Inbox").id);
    const auto delegate = AppDelegate::create();
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(f.menu(), expectedMenu(true, 3, std::nullopt, "3 windows active", 3, "Notes - b - 0s [Notes] [b]"));
    EXPECT_EQ(f.item().toolTip, "Quellan: 3 of 3 windows");

    EXPECT_TRUE(f.item().choose("1"));
    EXPECT_EQ(f.defaults->integerForKey(WindowMonitor::windowLimitKey), 1);
    EXPECT_EQ(f.menu(),
              expectedMenu(true, 1, std::nullopt, "1 window active", 1, "Current: Mail - Inbox - 0s [Mail] [Inbox]"));
    EXPECT_EQ(f.item().title, " 1");

    EXPECT_TRUE(f.item().choose("1 minute"));
    EXPECT_EQ(f.item().toolTip, "Quellan: 1 of 1 windows, inactive after 1 minute");
    EXPECT_TRUE(f.item().choose("Off"));
    EXPECT_FALSE(f.defaults->boolForKey(WindowMonitor::inactiveMinimizeEnabledKey));
    EXPECT_EQ(f.menu(),
              expectedMenu(true, 1, std::nullopt, "1 window active", 1, "Current: Mail - Inbox - 0s [Mail] [Inbox]"));

    // Nothing changes, so the scans rest; the menu opening brings its durations up to date.
    f.runLoop.advance(100);
    f.item().menu()->delegate.lock()->menuWillOpen();
    EXPECT_EQ(f.menu(), expectedMenu(true, 1, std::nullopt, "1 window active", 1,
                                     "Current: Mail - Inbox - 1m 40s [Mail] [Inbox]"));
    delegate->applicationWillTerminate();
}

TEST(AppShell, FormatDuration) {
    const std::vector<std::pair<std::int64_t, std::string>> table{
        {-5, "0s"},        {0, "0s"},       {59, "59s"},     {60, "1m 0s"},     {75, "1m 15s"},
        {3599, "59m 59s"}, {3600, "1h 0m"}, {3661, "1h 1m"}, {90000, "25h 0m"}, {INT64_MIN, "0s"},
    };
    for (const auto& [seconds, text] : table)
        EXPECT_EQ(AppDelegate::formatDuration(seconds), text) << seconds;
}

} // namespace
} // namespace quellan
