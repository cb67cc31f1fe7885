// The application shell end to end over the simulated desktop, run loop
// and framework: launch, the status item and menu, and every command.
#include "Platform/simulated/SimulatedFramework.hpp"
#include "Quellan/AppDelegate.hpp"
#include "Quellan/Launch.hpp"
#include "Support.hpp"

#include <gtest/gtest.h>

namespace quellan {

struct AppDelegateTestAccess {
    static MonitorState& state(AppDelegate& d) { return d.state_; }
    static const std::shared_ptr<WindowMonitor>& monitor(AppDelegate& d) { return d.monitor_; }
    static void rebuildMenu(AppDelegate& d) { d.rebuildMenu(); }
};

namespace {

using Access = AppDelegateTestAccess;
using Lines = std::vector<std::string>;

/// One line per item: checkmark, title, action, number, disabled, key, submenu.
Lines describe(const appkit::Menu& menu) {
    Lines lines;
    for (const auto& item : menu.items()) {
        if (item.isSeparator) {
            lines.push_back("---");
            continue;
        }
        std::string line = (item.state == appkit::ControlState::on ? "[x] " : "") + item.title;
        if (item.action) line += " -> " + *item.action;
        if (const auto number = item.integerRepresentedObject()) line += " #" + std::to_string(*number);
        if (!item.enabled) line += " (disabled)";
        if (!item.keyEquivalent.empty()) line += " key " + item.keyEquivalent;
        if (item.submenu) line += " >";
        lines.push_back(line);
    }
    return lines;
}

/// The whole menu as the table of rows says it, for a state.
Lines expectedMenu(bool trusted, std::int64_t limit, std::optional<std::int64_t> inactive, std::string statusLine,
                   std::size_t activeCount) {
    Lines lines{"Velquor (disabled)", "---", "Window limit (disabled)"};
    for (int v = 1; v <= 10; ++v)
        lines.push_back(std::string(v == limit ? "[x] " : "") + std::to_string(v) + " -> selectLimit: #" +
                        std::to_string(v));
    lines.insert(lines.end(), {"---", "Minimize inactive windows (disabled)",
                               std::string(inactive ? "" : "[x] ") + "Off -> selectInactiveMinutes:"});
    for (const int m : {1, 5, 10, 15, 30, 60})
        lines.push_back(std::string(inactive == m ? "[x] " : "") + std::to_string(m) +
                        (m == 1 ? " minute" : " minutes") + " -> selectInactiveMinutes: #" + std::to_string(m));
    lines.insert(lines.end(),
                 {"---", statusLine + " (disabled)",
                  "Active Windows (" + std::to_string(activeCount) + ")" + (trusted ? "" : " (disabled)") + " >"});
    if (!trusted) {
        lines.push_back("Grant Accessibility Access\u2026 -> grantAccessibilityAccess");
        lines.push_back("Open Accessibility Settings\u2026 -> openAccessibilitySettings");
    }
    lines.push_back(std::string("Check Now -> checkNow") + (trusted ? "" : " (disabled)"));
    lines.insert(lines.end(), {"---", "Quit Quellan -> quitApplication key q"});
    return lines;
}

Lines submenuOf(const appkit::Menu& menu, std::string_view prefix) {
    for (const auto& item : menu.items()) {
        if (item.title.starts_with(prefix) && item.submenu) return describe(*item.submenu);
    }
    return {"(no submenu)"};
}

struct ShellFixture {
    simulated::SimulatedDesktop desktop;
    simulated::SimulatedRunLoop runLoop{desktop.time};
    platform::ScopedBackends installed{testing_support::withRunLoop(desktop, runLoop)};
    simulated::SimulatedFramework framework;
    std::shared_ptr<platform::InMemoryUserDefaults> defaults = std::make_shared<platform::InMemoryUserDefaults>();
    std::shared_ptr<AppDelegate> delegate;

    ShellFixture() {
        appkit::installFramework(&framework);
        platform::installStandardUserDefaults(defaults);
        desktop.addApplication(100, "Notes");
        desktop.addApplication(200, "Mail");
    }
    ~ShellFixture() {
        if (delegate) delegate->applicationWillTerminate();
        delegate.reset();
        platform::installStandardUserDefaults(nullptr);
        appkit::installFramework(nullptr);
    }
    void launch() {
        delegate = AppDelegate::create();
        framework.sharedApplication().setDelegate(delegate);
        delegate->applicationDidFinishLaunching();
    }
    simulated::SimulatedStatusItem& item() { return *framework.statusItems.at(0); }
    Lines menu() { return describe(*item().menu()); }
    simulated::WindowID open(std::int32_t pid, std::string title) {
        return desktop.addWindow(pid, std::move(title)).id;
    }
};

TEST(AppShell, LaunchingRunsTheEntrySequenceAndShowsTheWarningAtOnce) {
    ShellFixture f;
    f.desktop.trusted = false;
    f.defaults->setInteger(5, WindowMonitor::windowLimitKey);
    f.defaults->setInteger(15, WindowMonitor::inactiveMinutesKey);
    f.defaults->setBool(true, WindowMonitor::inactiveMinimizeEnabledKey);
    std::size_t menusAtLaunch = 0;
    f.framework.whileRunning = [&] { menusAtLaunch = f.item().menus.size(); };
    EXPECT_EQ(runApplication(), 0);

    EXPECT_EQ(f.framework.events, (Lines{"setDelegate", "setActivationPolicy", "run", "run returned"}));
    EXPECT_EQ(f.framework.activationPolicy, workspace::ActivationPolicy::accessory);
    ASSERT_EQ(f.framework.statusItems.size(), 1u);
    EXPECT_EQ(f.item().length, appkit::kVariableStatusItemLength);
    EXPECT_EQ(f.desktop.counts().trustPrompt, 1);
    ASSERT_EQ(menusAtLaunch, 2u) << "the launch look, then the first state, both within launching";

    const auto& first = *f.item().menus[0];
    EXPECT_EQ(describe(first), expectedMenu(false, 3, std::nullopt, "Accessibility access required", 0));
    EXPECT_EQ(submenuOf(first, "Active Windows"), Lines{"No active windows (disabled)"});
    EXPECT_EQ(describe(*f.item().menus[1]), expectedMenu(false, 5, 15, "Accessibility access required", 0))
        << "the stored settings, still untrusted";
    EXPECT_EQ(f.item().image, (appkit::Image{"exclamationmark.triangle", "Quellan needs access"}));
    EXPECT_EQ(f.item().title, " 5");
    EXPECT_EQ(f.item().toolTip, "Quellan needs Accessibility access");
    EXPECT_TRUE(f.framework.delegate().expired()) << "the entry's delegate is gone once it returns";
}

TEST(AppShell, TheTrustedLookReplacesTheLaunchLookBeforeLaunchingEnds) {
    ShellFixture f;
    const auto a = f.open(100, "Plan");
    f.open(200, "Inbox");
    f.desktop.focus(a);
    f.launch();
    ASSERT_EQ(f.item().menus.size(), 2u);
    EXPECT_EQ(f.menu(), expectedMenu(true, 3, std::nullopt, "2 windows active", 2));
    EXPECT_EQ(f.item().image, (appkit::Image{"macwindow.on.rectangle", "Quellan"}));
    EXPECT_EQ(f.item().title, " 3");
    EXPECT_EQ(f.item().toolTip, "Quellan: 2 of 3 windows");
    EXPECT_EQ(submenuOf(*f.item().menu(), "Active Windows"),
              (Lines{"Mail - Inbox - 0s (disabled)", "Current: Notes - Plan - 0s (disabled)"}));
    for (const auto& item : f.item().menu()->items()) {
        if (item.action) {
            EXPECT_EQ(item.target.lock(), f.delegate) << item.title;
        }
    }
}

TEST(AppShell, TextsFollowTheirCountsAndMarks) {
    ShellFixture f;
    f.launch();
    auto& state = Access::state(*f.delegate);
    state =
        MonitorState{.isTrusted = true, .visibleWindowCount = 1, .limit = 4, .inactiveMinutes = 1, .activeWindows = {}};
    state.activeWindows = {{"1:1", "", "", 61, true}, {"1:2", "Term", "a - b", 90000, true}};
    Access::rebuildMenu(*f.delegate);
    EXPECT_EQ(f.menu(), expectedMenu(true, 4, 1, "1 window active", 2)) << "rows count entries, status counts windows";
    EXPECT_EQ(f.item().toolTip, "Quellan: 1 of 4 windows, inactive after 1 minute");
    EXPECT_EQ(submenuOf(*f.item().menu(), "Active Windows"),
              (Lines{"Current:  -  - 1m 1s (disabled)", "Current: Term - a - b - 25h 0m (disabled)"}));

    state.inactiveMinutes = 5;
    state.visibleWindowCount = 0;
    Access::rebuildMenu(*f.delegate);
    EXPECT_EQ(f.item().toolTip, "Quellan: 0 of 4 windows, inactive after 5 minutes");
    EXPECT_EQ(f.menu(), expectedMenu(true, 4, 5, "0 windows active", 2));

    for (const std::int64_t outside : {0, 11, -3}) {
        state.limit = outside;
        Access::rebuildMenu(*f.delegate);
        EXPECT_EQ(f.menu(), expectedMenu(true, outside, 5, "0 windows active", 2)) << "no limit row marked";
        EXPECT_EQ(f.item().title, " " + std::to_string(outside));
    }
    const std::size_t before = f.item().menus.size();
    Access::rebuildMenu(*f.delegate);
    EXPECT_NE(f.item().menus[before - 1], f.item().menus[before]) << "a new menu every time";
}

TEST(AppShell, FormatDuration) {
    const std::vector<std::pair<std::int64_t, std::string>> table{
        {-5, "0s"},        {0, "0s"},       {59, "59s"},     {60, "1m 0s"},     {75, "1m 15s"},
        {3599, "59m 59s"}, {3600, "1h 0m"}, {3661, "1h 1m"}, {90000, "25h 0m"}, {INT64_MIN, "0s"},
    };
    for (const auto& [seconds, text] : table)
        EXPECT_EQ(AppDelegate::formatDuration(seconds), text) << seconds;
    EXPECT_EQ(AppDelegate::formatDuration(INT64_MAX), "2562047788015215h 30m");
}

TEST(AppShell, WithoutAButtonOrASymbolTheRestIsStillShown) {
    ShellFixture f;
    f.framework.statusItemsHaveButtons = false;
    f.launch();
    EXPECT_EQ(f.item().buttonUpdates, 0);
    EXPECT_EQ(f.item().menus.size(), 2u);

    ShellFixture g;
    g.framework.knownSymbols.clear();
    g.launch();
    EXPECT_FALSE(g.item().image);
    EXPECT_EQ(g.item().title, " 3");
    EXPECT_EQ(g.item().toolTip, "Quellan: 0 of 3 windows");
}

TEST(AppShell, ChoosingALimitPersistsScansAndMarksItBeforeReturning) {
    ShellFixture f;
    for (const char* title : {"a", "b", "c"})
        f.desktop.focus(f.open(100, title));
    f.launch();
    EXPECT_TRUE(f.desktop.minimizedWindows().empty());

    EXPECT_TRUE(f.item().choose("1"));
    EXPECT_EQ(f.defaults->integerForKey(WindowMonitor::windowLimitKey), 1);
    EXPECT_EQ(f.desktop.minimizedWindows().size(), 2u) << "applied by the same command";
    EXPECT_EQ(f.menu(), expectedMenu(true, 1, std::nullopt, "1 window active", 1));
    EXPECT_EQ(f.item().title, " 1");

    const int writes = f.defaults->writeCount();
    const std::size_t menus = f.item().menus.size();
    const int snapshots = f.desktop.counts().frontmostApplication;
    EXPECT_TRUE(f.item().choose("1"));
    EXPECT_EQ(f.defaults->writeCount(), writes + 1) << "written again";
    EXPECT_EQ(f.desktop.counts().frontmostApplication, snapshots + 1) << "scanned again";
    EXPECT_EQ(f.item().menus.size(), menus) << "nothing changed, so no rebuild";
}

TEST(AppShell, ChoosingInactivityPeriodsAndOff) {
    ShellFixture f;
    f.launch();
    EXPECT_TRUE(f.item().choose("30 minutes"));
    EXPECT_EQ(f.defaults->integerForKey(WindowMonitor::inactiveMinutesKey), 30);
    EXPECT_TRUE(f.defaults->boolForKey(WindowMonitor::inactiveMinimizeEnabledKey));
    EXPECT_EQ(f.menu(), expectedMenu(true, 3, 30, "0 windows active", 0));
    EXPECT_EQ(f.item().toolTip, "Quellan: 0 of 3 windows, inactive after 30 minutes");

    EXPECT_TRUE(f.item().choose("Off"));
    EXPECT_FALSE(f.defaults->boolForKey(WindowMonitor::inactiveMinimizeEnabledKey));
    EXPECT_EQ(f.menu(), expectedMenu(true, 3, std::nullopt, "0 windows active", 0));
    const int writes = f.defaults->writeCount();
    EXPECT_TRUE(f.item().choose("Off"));
    EXPECT_EQ(f.defaults->writeCount(), writes + 1);
}

TEST(AppShell, RepresentedObjectsDecideWhatACommandDoes) {
    ShellFixture f;
    f.launch();
    f.item().choose("10 minutes");
    const int writes = f.defaults->writeCount();

    appkit::MenuItem odd("x", std::string(AppDelegate::selectLimitSelector), "");
    for (const appkit::RepresentedObject& object :
         {appkit::RepresentedObject{}, appkit::RepresentedObject{2.0}, appkit::RepresentedObject{std::string("2")}}) {
        odd.representedObject = object;
        f.delegate->performAction(AppDelegate::selectLimitSelector, odd);
    }
    EXPECT_EQ(f.defaults->writeCount(), writes) << "a limit needs an integer";
    odd.representedObject = std::int64_t{42};
    f.delegate->performAction(AppDelegate::selectLimitSelector, odd);
    EXPECT_EQ(f.defaults->writeCount(), writes) << "out of range";

    odd.representedObject = std::string("10");
    f.delegate->performAction(AppDelegate::selectInactiveMinutesSelector, odd);
    EXPECT_FALSE(Access::state(*f.delegate).inactiveMinutes) << "anything but an integer switches it off";
    odd.representedObject = std::int64_t{7};
    const int before = f.defaults->writeCount();
    f.delegate->performAction(AppDelegate::selectInactiveMinutesSelector, odd);
    EXPECT_EQ(f.defaults->writeCount(), before) << "an unsupported period is ignored";
    f.delegate->performAction("noSuchSelector:", odd);
}

TEST(AppShell, AccessCommandsAndDisabledItems) {
    ShellFixture f;
    f.desktop.trusted = false;
    f.launch();
    const int snapshots = f.desktop.counts().isProcessTrusted;
    EXPECT_FALSE(f.item().choose("Check Now")) << "disabled while untrusted";
    EXPECT_FALSE(f.item().choose("Velquor"));
    EXPECT_FALSE(f.item().choose("Accessibility access required"));
    EXPECT_EQ(f.desktop.counts().isProcessTrusted, snapshots);

    f.desktop.promptGrantsTrust = true;
    EXPECT_TRUE(f.item().choose("Grant Accessibility Access\u2026"));
    EXPECT_EQ(f.desktop.counts().trustPrompt, 2);
    EXPECT_EQ(f.menu(), expectedMenu(true, 3, std::nullopt, "0 windows active", 0)) << "the scan saw the new trust";

    f.desktop.trusted = false;
    f.desktop.promptGrantsTrust = false;
    f.delegate->performAction(AppDelegate::openAccessibilitySettingsSelector, appkit::MenuItem{});
    EXPECT_EQ(f.desktop.openedURLs(), Lines{std::string(AppDelegate::accessibilitySettingsURL)});
    EXPECT_TRUE(f.item().choose("Check Now")) << "enabled in the trusted menu still shown";
    EXPECT_FALSE(Access::state(*f.delegate).isTrusted);
}

TEST(AppShell, QuitStopsTheMonitorThroughWillTerminate) {
    ShellFixture f;
    f.framework.whileRunning = [&] {
        f.runLoop.advance(1.0);
        f.item().choose("Quit Quellan");
        EXPECT_EQ(f.runLoop.validTimers(), 0u) << "stopped before the process ends";
        EXPECT_EQ(f.runLoop.advance(10.0), 0);
    };
    runApplication();
    EXPECT_TRUE(f.framework.terminated);
    EXPECT_EQ(f.framework.events, (Lines{"setDelegate", "setActivationPolicy", "run", "terminate", "run returned"}));
}

TEST(AppShell, AStateAfterTheDelegateIsGoneChangesNothing) {
    ShellFixture f;
    f.launch();
    const auto monitor = Access::monitor(*f.delegate);
    const std::size_t menus = f.item().menus.size();
    f.delegate->applicationWillTerminate();
    f.delegate.reset();
    f.open(100, "late");
    monitor->scanNow();
    EXPECT_EQ(f.item().menus.size(), menus);

    // Terminating before launching, and twice, is harmless.
    const auto early = AppDelegate::create();
    early->applicationWillTerminate();
    early->performAction(AppDelegate::checkNowSelector, appkit::MenuItem{});
}

} // namespace
} // namespace quellan
