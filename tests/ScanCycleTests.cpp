#include "Support.hpp"

#include <gtest/gtest.h>

namespace quellan {
namespace {

using testing_support::MonitorFixture;
using Access = WindowMonitorTestAccess;
using Ids = std::vector<std::string>;

TEST(ScanCycle, NewWindowsRankByTheirPlaceAndTheFocusedOneIsRemembered) {
    MonitorFixture f;
    f.monitor->limit = 2;
    const auto a = f.open(100, "A"), b = f.open(100, "B"), c = f.open(200, "C");
    f.monitor->scanNow();
    EXPECT_TRUE(f.isMinimized(a)) << "first in the snapshot counts as the oldest";
    EXPECT_EQ(f.last().visibleWindowCount, 2);
    ASSERT_EQ(f.rowIDs(), (Ids{f.idOf(c), f.idOf(b)})) << "rows in the summary order";
    EXPECT_FALSE(Access::lastTouched(*f.monitor).contains(f.idOf(a))) << "a minimized window starts again";

    f.desktop.focus(b);
    f.desktop.advance(10);
    f.monitor->scanNow();
    EXPECT_EQ(f.last().activeWindows, (std::vector<ActiveWindowSummary>{{f.idOf(c), "mail", "C", 10, false},
                                                                        {f.idOf(b), "Notes", "B", 10, true}}));
    f.desktop.frontmostProcessIdentifier.reset();
    f.desktop.advance(10);
    f.monitor->limit = 1;
    f.monitor->scanNow();
    EXPECT_TRUE(f.isMinimized(c)) << "B was focused after C was last seen new";
    EXPECT_FALSE(f.isMinimized(b));
}

TEST(ScanCycle, NewWindowsTheDesktopStacksRankLowestFirst) {
    MonitorFixture f;
    f.monitor->limit = 1;
    const auto a = f.open(100, "A"), b = f.open(100, "B"), c = f.open(200, "C");
    for (const auto& [window, position] : {std::pair{a, 2}, {b, 0}, {c, 1}})
        f.desktop.window(window).stackingPosition = position;
    f.monitor->scanNow();
    EXPECT_EQ(f.desktop.minimizedWindows(), (std::vector<simulated::WindowID>{b, c}));
}

TEST(ScanCycle, AFocusBetweenScansCountsAtItsInstant) {
    MonitorFixture f;
    f.desktop.reportsFocusChanges = true;
    f.monitor->limit = 2;
    const auto a = f.open(100, "A"), b = f.open(100, "B");
    f.desktop.focus(b);
    f.monitor->scanNow();
    f.desktop.advance(5);
    f.desktop.focus(a); // only until the next window opens, before any scan
    f.desktop.advance(0.1);
    const auto c = f.open(200, "C");
    f.desktop.focus(c);
    f.monitor->scanNow();
    EXPECT_EQ(f.desktop.minimizedWindows(), (std::vector<simulated::WindowID>{b}));
}

TEST(ScanCycle, InactivityTakesWindowsIdleForTheWholePeriodAfterTheOverLimitOnes) {
    MonitorFixture f;
    const auto a = f.open(100, "A"), b = f.open(100, "B"), c = f.open(100, "C");
    f.monitor->scanNow();
    f.monitor->inactiveMinutes = 5;
    f.desktop.advance(299.5);
    f.monitor->scanNow();
    EXPECT_TRUE(f.desktop.minimizedWindows().empty());
    f.desktop.advance(0.5);
    f.monitor->limit = 2;
    f.monitor->scanNow();
    EXPECT_EQ(f.desktop.minimizedWindows(), (std::vector<simulated::WindowID>{a, b, c})) << "over the limit first";
}

TEST(ScanCycle, AFocusedWindowListedMoreThanOnceIsNeverMinimized) {
    MonitorFixture f;
    f.monitor->limit = 1;
    const auto a = f.open(100, "A"), b = f.open(100, "B");
    f.desktop.application(100).windowsExtras = {simulated::WindowRef{b}, simulated::WindowRef{b}};
    f.desktop.focus(b);
    f.monitor->scanNow();
    EXPECT_TRUE(f.isMinimized(a));
    EXPECT_FALSE(f.isMinimized(b));
}

TEST(ScanCycle, WithoutTrustEverythingIsForgotten) {
    MonitorFixture f;
    f.open(100, "A");
    f.monitor->scanNow();
    f.desktop.trusted = false;
    f.monitor->scanNow();
    EXPECT_TRUE(Access::lastTouched(*f.monitor).empty());
    EXPECT_TRUE(Access::openedAt(*f.monitor).empty());
    EXPECT_EQ(f.last(), (MonitorState{false, 0, 3, std::nullopt, {}}));
}

TEST(ScanCycle, AClockSetBackKeepsAgesAndTheFocusedWindow) {
    MonitorFixture f;
    f.monitor->limit = 2;
    const auto a = f.open(100, "A"), b = f.open(100, "B");
    f.monitor->scanNow();
    f.desktop.advance(120);
    f.monitor->scanNow();
    f.desktop.advance(-3600);
    const auto c = f.open(100, "C");
    f.desktop.focus(c);
    f.monitor->scanNow();
    EXPECT_TRUE(f.isMinimized(a));
    EXPECT_FALSE(f.isMinimized(c));
    f.desktop.advance(10);
    f.monitor->scanNow();
    for (const auto& row : f.last().activeWindows)
        EXPECT_EQ(row.openDurationSeconds, row.id == f.idOf(b) ? 130 : 10) << row.title;
}

TEST(ScanCycle, AHungApplicationIsLeftOutForAGrowingPauseAndRanksAsBeforeOnceItAnswers) {
    MonitorFixture f;
    f.monitor->limit = 2;
    f.desktop.addApplication(300, "Term");
    const auto a = f.open(100, "A"), b = f.open(200, "B");
    f.desktop.focus(a);
    f.monitor->start();
    f.runLoop.advance(10);
    f.desktop.focus(b);
    f.runLoop.advance(10);
    f.desktop.application(100).hangs = true;
    const auto c = f.open(300, "C");
    f.desktop.focus(c);

    // Each try costs the whole timeout; the pauses between tries double.
    const double start = f.desktop.time;
    std::vector<double> tries;
    for (double waited = 0; f.desktop.time < start + 200;) {
        f.runLoop.advance(0.35);
        if (f.desktop.waitedSeconds() > waited) tries.push_back(f.desktop.time);
        waited = f.desktop.waitedSeconds();
    }
    ASSERT_EQ(tries.size(), 6u);
    for (std::size_t i = 1; i < tries.size(); ++i) {
        const double pause = std::min(5.0 * (1 << (i - 1)), 80.0);
        EXPECT_GE(tries[i] - tries[i - 1], pause) << i;
        EXPECT_LT(tries[i] - tries[i - 1], pause + 1) << i;
    }
    EXPECT_LT(f.desktop.waitedSeconds() / (f.desktop.time - tries[0]), 0.1) << "busy time per second";
    EXPECT_EQ(f.rowIDs(), (Ids{f.idOf(b), f.idOf(c)})) << "the others are still listed";
    EXPECT_TRUE(f.desktop.minimizedWindows().empty());

    f.desktop.application(100).hangs = false;
    f.runLoop.advance(81);
    EXPECT_EQ(f.desktop.minimizedWindows(), (std::vector<simulated::WindowID>{a})) << "A was used before B";
}

} // namespace
} // namespace quellan
