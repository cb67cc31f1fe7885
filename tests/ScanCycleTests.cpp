#include "Support.hpp"

#include <gtest/gtest.h>

namespace quellan {
namespace {

using Access = WindowMonitorTestAccess;
using Ids = std::vector<std::string>;
using Windows = std::vector<simulated::WindowID>;

class ScanCycle : public ::testing::Test, protected testing_support::MonitorFixture {};

TEST_F(ScanCycle, NewWindowsRankByTheirPlaceAndTheFocusedOneIsRemembered) {
    monitor->limit = 2;
    const auto a = open(100, "A"), b = open(100, "B"), c = open(200, "C");
    monitor->scanNow();
    EXPECT_EQ(desktop.minimizedWindows(), Windows{a}) << "first in the snapshot counts as the oldest";
    EXPECT_EQ(last().visibleWindowCount, 2);
    ASSERT_EQ(rowIDs(), (Ids{idOf(c), idOf(b)})) << "rows in the summary order";
    EXPECT_FALSE(Access::lastTouched(*monitor).contains(idOf(a))) << "a minimized window starts again";

    desktop.focus(b);
    desktop.advance(10);
    monitor->scanNow();
    EXPECT_EQ(last().activeWindows,
              (std::vector<ActiveWindowSummary>{{idOf(c), "mail", "C", 10, false}, {idOf(b), "Notes", "B", 10, true}}));
    desktop.frontmostProcessIdentifier.reset();
    desktop.advance(10);
    monitor->limit = 1;
    monitor->scanNow();
    EXPECT_EQ(desktop.minimizedWindows(), (Windows{a, c})) << "B was focused after C was last seen new";
}

TEST_F(ScanCycle, NewWindowsTheDesktopStacksRankLowestFirst) {
    monitor->limit = 1;
    const auto a = open(100, "A"), b = open(100, "B"), c = open(200, "C");
    for (const auto& [window, position] : {std::pair{a, 2}, {b, 0}, {c, 1}})
        desktop.window(window).stackingPosition = position;
    monitor->scanNow();
    EXPECT_EQ(desktop.minimizedWindows(), (Windows{b, c}));
}

TEST_F(ScanCycle, AFocusBetweenScansCountsAtItsInstant) {
    desktop.reportsFocusChanges = true;
    monitor->limit = 2;
    const auto a = open(100, "A"), b = open(100, "B");
    desktop.focus(b);
    monitor->scanNow();
    desktop.advance(5);
    desktop.focus(a); // only until the next window opens, before any scan
    desktop.advance(0.1);
    const auto c = open(200, "C");
    desktop.focus(c);
    monitor->scanNow();
    EXPECT_EQ(desktop.minimizedWindows(), (Windows{b}));
}

TEST_F(ScanCycle, InactivityTakesWindowsIdleForTheWholePeriodAfterTheOverLimitOnes) {
    const auto a = open(100, "A"), b = open(100, "B"), c = open(100, "C");
    monitor->scanNow();
    monitor->inactiveMinutes = 5;
    desktop.advance(299.5);
    monitor->scanNow();
    EXPECT_TRUE(desktop.minimizedWindows().empty());
    desktop.advance(0.5);
    monitor->limit = 2;
    monitor->scanNow();
    EXPECT_EQ(desktop.minimizedWindows(), (Windows{a, b, c})) << "over the limit first";
}

TEST_F(ScanCycle, WindowsSeenLateKeepTheirPlaceAmongWhatHappenedMeanwhile) {
    // Read together after a stall: C and D appeared, then A was focused for
    // a while, then B. A was used after C and D appeared, so they go first;
    // of the two, C appeared first.
    desktop.reportsFocusChanges = true;
    monitor->limit = 2;
    const auto a = open(100, "A"), b = open(100, "B");
    monitor->scanNow();
    const double stall = desktop.time;
    const auto c = open(200, "C"), d = open(200, "D");
    desktop.window(c).appearedAt = stall + 10;
    desktop.window(d).appearedAt = stall + 20;
    desktop.advance(30);
    desktop.focus(a);
    desktop.advance(30);
    desktop.focus(b);
    desktop.advance(30);
    monitor->scanNow();
    EXPECT_EQ(desktop.minimizedWindows(), (Windows{c, d}));
}

TEST_F(ScanCycle, AFocusedWindowListedMoreThanOnceIsNeverMinimized) {
    monitor->limit = 1;
    const auto a = open(100, "A"), b = open(100, "B");
    desktop.application(100).windowsExtras = {simulated::WindowRef{b}, simulated::WindowRef{b}};
    desktop.focus(b);
    monitor->scanNow();
    EXPECT_EQ(desktop.minimizedWindows(), Windows{a});
}

TEST_F(ScanCycle, WithoutTrustEverythingIsForgotten) {
    open(100, "A");
    monitor->scanNow();
    desktop.trusted = false;
    desktop.resetCounts();
    monitor->scanNow();
    EXPECT_EQ(desktop.counts().clockReads, 0) << "no time read without access";
    EXPECT_TRUE(Access::lastTouched(*monitor).empty());
    EXPECT_TRUE(Access::openedAt(*monitor).empty());
    EXPECT_EQ(last(), (MonitorState{false, 0, 3, std::nullopt, {}}));
}

TEST_F(ScanCycle, AClockSetBackKeepsAgesAndTheFocusedWindow) {
    monitor->limit = 2;
    const auto a = open(100, "A"), b = open(100, "B");
    monitor->scanNow();
    desktop.advance(120);
    monitor->scanNow();
    desktop.advance(-3600);
    const auto c = open(100, "C");
    desktop.focus(c);
    monitor->scanNow();
    EXPECT_EQ(desktop.minimizedWindows(), Windows{a});
    desktop.advance(10);
    monitor->scanNow();
    for (const auto& row : last().activeWindows)
        EXPECT_EQ(row.openDurationSeconds, row.id == idOf(b) ? 130 : 10) << row.title;
}

TEST_F(ScanCycle, AHungApplicationIsLeftOutForAGrowingPauseAndRanksAsBeforeOnceItAnswers) {
    monitor->limit = 2;
    desktop.addApplication(300, "Term");
    const auto a = open(100, "A"), b = open(200, "B");
    desktop.focus(a);
    monitor->start();
    runLoop.advance(10);
    desktop.focus(b);
    runLoop.advance(10);
    desktop.application(100).hangs = true;
    const auto c = open(300, "C");
    desktop.focus(c);

    // Each try costs the whole timeout; the pauses between tries double.
    const double start = desktop.time;
    std::vector<double> tries;
    for (double waited = 0; desktop.time < start + 200;) {
        runLoop.advance(0.35);
        if (desktop.waitedSeconds() > waited) tries.push_back(desktop.time);
        waited = desktop.waitedSeconds();
    }
    ASSERT_EQ(tries.size(), 6u);
    for (std::size_t i = 1; i < tries.size(); ++i) {
        const double pause = std::min(5.0 * (1 << (i - 1)), 80.0);
        EXPECT_GE(tries[i] - tries[i - 1], pause) << i;
        EXPECT_LT(tries[i] - tries[i - 1], pause + 1) << i;
    }
    EXPECT_LT(desktop.waitedSeconds() / (desktop.time - tries[0]), 0.1) << "busy time per second";
    EXPECT_EQ(rowIDs(), (Ids{idOf(b), idOf(c)})) << "the others are still listed";
    EXPECT_TRUE(desktop.minimizedWindows().empty());

    desktop.application(100).hangs = false;
    runLoop.advance(81);
    EXPECT_EQ(desktop.minimizedWindows(), (Windows{a})) << "A was used before B";
}

} // namespace
} // namespace quellan
