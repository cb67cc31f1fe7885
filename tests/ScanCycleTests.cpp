#include "Support.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace quellan {
namespace {

using testing_support::MonitorFixture;
using Access = WindowMonitorTestAccess;

std::vector<std::string> rowIDs(const MonitorState& state) {
    std::vector<std::string> ids;
    for (const auto& row : state.activeWindows)
        ids.push_back(row.id);
    return ids;
}

TEST(ScanCycle, WithoutTrustNothingIsReadAndEverythingIsForgotten) {
    MonitorFixture f;
    f.open(100, "one");
    f.monitor->scanNow();
    ASSERT_EQ(Access::lastTouched(*f.monitor).size(), 1u);

    f.desktop.trusted = false;
    f.desktop.resetCounts();
    f.monitor->scanNow();
    EXPECT_EQ(f.source->snapshots, 1);
    EXPECT_EQ(f.desktop.counts().clockReads, 0);
    EXPECT_EQ(f.desktop.counts().setAttributeValue, 0);
    EXPECT_TRUE(Access::lastTouched(*f.monitor).empty());
    EXPECT_TRUE(Access::openedAt(*f.monitor).empty());
    EXPECT_EQ(f.last(), (MonitorState{false, 0, 3, std::nullopt, {}}));
}

TEST(ScanCycle, NewWindowsAreRankedByTheirPlaceInTheSnapshot) {
    MonitorFixture f;
    f.monitor->limit = 2;
    const auto a = f.open(100, "A");
    const auto b = f.open(100, "B");
    const auto c = f.open(200, "C");
    f.monitor->scanNow();

    EXPECT_TRUE(f.isMinimized(a));
    EXPECT_EQ(f.last().visibleWindowCount, 2);
    EXPECT_EQ(rowIDs(f.last()), (std::vector<std::string>{f.idOf(b), f.idOf(c)}));
    const double now = f.desktop.time;
    EXPECT_DOUBLE_EQ(Access::lastTouched(*f.monitor).at(f.idOf(b)), now - 0.002);
    EXPECT_DOUBLE_EQ(Access::lastTouched(*f.monitor).at(f.idOf(c)), now - 0.001);
    EXPECT_FALSE(Access::lastTouched(*f.monitor).contains(f.idOf(a)));
}

TEST(ScanCycle, TheFocusedWindowIsTouchedNowAndSparedByTheLimit) {
    MonitorFixture f;
    f.monitor->limit = 2;
    const auto a = f.open(100, "A");
    const auto b = f.open(100, "B");
    f.open(200, "C");
    f.source->current = a;
    f.monitor->scanNow();
    EXPECT_FALSE(f.isMinimized(a));
    EXPECT_TRUE(f.isMinimized(b));
    EXPECT_EQ(Access::lastTouched(*f.monitor).at(f.idOf(a)), f.desktop.time);
    EXPECT_TRUE(f.last().activeWindows[0].isCurrent);
}

TEST(ScanCycle, ANewWindowCountsAsMoreRecentThanOldUnfocusedOnes) {
    MonitorFixture f;
    f.monitor->limit = 2;
    const auto a = f.open(100, "A");
    const auto b = f.open(100, "B");
    f.monitor->scanNow();
    f.desktop.advance(60);
    const auto c = f.open(100, "C");
    f.monitor->scanNow();
    EXPECT_TRUE(f.isMinimized(a));
    EXPECT_FALSE(f.isMinimized(b));
    EXPECT_FALSE(f.isMinimized(c));
}

TEST(ScanCycle, AWindowChosenByBothRulesIsMinimizedOnceOverLimitFirst) {
    // Three windows idle for ten minutes with limit 1 and a 5-minute rule.
    MonitorFixture g;
    g.monitor->limit = 1;
    g.monitor->inactiveMinutes = 5;
    const auto x = g.open(100, "X");
    const auto y = g.open(100, "Y");
    const auto z = g.open(100, "Z");
    g.monitor->limit = 3;
    g.monitor->scanNow();
    g.desktop.advance(600);
    g.monitor->limit = 2;
    g.desktop.clearCalls();
    g.monitor->scanNow();
    // Over-limit X first, then Y and Z for inactivity; X only once.
    std::vector<std::string> sets;
    for (const auto& call : g.desktop.calls()) {
        if (call.rfind("set ", 0) == 0) sets.push_back(call);
    }
    EXPECT_EQ(sets, (std::vector<std::string>{"set win:" + std::to_string(x) + " AXMinimized",
                                              "set win:" + std::to_string(y) + " AXMinimized",
                                              "set win:" + std::to_string(z) + " AXMinimized"}));
    EXPECT_EQ(g.last().visibleWindowCount, 0);
}

TEST(ScanCycle, InactivityNeedsAPeriodAndCountsTheBoundary) {
    MonitorFixture f;
    f.monitor->limit = 10;
    const auto a = f.open(100, "A");
    const auto b = f.open(100, "B");
    f.source->current = b;
    f.monitor->scanNow();
    f.source->current.reset();
    f.desktop.advance(3600);
    f.monitor->scanNow();
    EXPECT_FALSE(f.isMinimized(b)) << "no period set: nothing is inactive";

    f.monitor->inactiveMinutes = 5;
    f.source->current = a;
    f.monitor->scanNow();
    EXPECT_TRUE(f.isMinimized(b)) << "B was idle for an hour";
    EXPECT_FALSE(f.isMinimized(a)) << "the focused window is exempt";
    f.source->current.reset();
    f.desktop.advance(299.5);
    f.monitor->scanNow();
    EXPECT_FALSE(f.isMinimized(a));
    f.desktop.advance(0.5);
    f.monitor->scanNow();
    EXPECT_TRUE(f.isMinimized(a)) << "exactly 300 seconds counts as inactive";
}

TEST(ScanCycle, AFailedMinimizationCountsAsVisibleAndIsRetried) {
    MonitorFixture f;
    f.monitor->limit = 1;
    const auto a = f.open(100, "A");
    const auto b = f.open(100, "B");
    f.desktop.window(a).minimizeResult = ax::kCannotComplete;
    f.monitor->scanNow();
    EXPECT_EQ(f.last().visibleWindowCount, 2);
    EXPECT_EQ(rowIDs(f.last()), std::vector<std::string>{f.idOf(b)});
    EXPECT_TRUE(Access::lastTouched(*f.monitor).contains(f.idOf(a)));
    EXPECT_TRUE(Access::openedAt(*f.monitor).contains(f.idOf(a)));

    f.desktop.window(a).minimizeResult = ax::kSuccess;
    f.monitor->scanNow();
    EXPECT_TRUE(f.isMinimized(a));
    EXPECT_EQ(f.last().visibleWindowCount, 1);
}

TEST(ScanCycle, AWindowThatComesBackStartsAgain) {
    MonitorFixture f;
    const auto a = f.open(100, "A");
    f.monitor->scanNow();
    f.desktop.advance(100);
    f.monitor->scanNow();
    EXPECT_EQ(f.last().activeWindows[0].openDurationSeconds, 100);

    const auto listed = f.source->windows;
    f.source->windows.clear();
    f.monitor->scanNow();
    EXPECT_TRUE(Access::openedAt(*f.monitor).empty());
    EXPECT_EQ(f.last().visibleWindowCount, 0);
    f.source->windows = listed;
    f.desktop.advance(5);
    f.monitor->scanNow();
    EXPECT_EQ(f.last().activeWindows[0].openDurationSeconds, 0);
    EXPECT_EQ(f.last().activeWindows[0].id, f.idOf(a));
}

TEST(ScanCycle, DuplicateIdentifiersStillCompleteTheScanAndTheFirstRecordIsUsed) {
    MonitorFixture f;
    f.monitor->limit = 1;
    const auto a = f.open(100, "A");
    const auto b = f.open(100, "B");
    // B collides with A: both now carry A's identifier.
    f.desktop.window(b).hash = f.desktop.window(a).hash;
    const auto c = f.open(100, "C");
    f.source->current = c;
    f.monitor->scanNow();
    EXPECT_TRUE(f.isMinimized(a));
    EXPECT_FALSE(f.isMinimized(b));
    EXPECT_EQ(f.last().visibleWindowCount, 2);
    EXPECT_EQ(rowIDs(f.last()), std::vector<std::string>{f.idOf(c)});
}

TEST(ScanCycle, AFocusedWindowListedMoreThanOnceIsNeverMinimized) {
    MonitorFixture f;
    f.monitor->limit = 1;
    const auto a = f.open(100, "A");
    const auto b = f.open(100, "B");
    f.source->windows = {b, a, b, b};
    f.source->current = b;
    f.monitor->scanNow();
    EXPECT_FALSE(f.isMinimized(b));
    EXPECT_TRUE(f.isMinimized(a));

    f.monitor->setInactiveMinutes(1);
    f.desktop.advance(3600);
    f.monitor->scanNow();
    EXPECT_FALSE(f.isMinimized(b)) << "nor by the inactivity rule";
}

TEST(ScanCycle, AStrayCurrentIdentifierIsNotRemembered) {
    MonitorFixture f;
    f.open(100, "A");
    f.source->currentOverride = "999:1";
    f.monitor->scanNow();
    EXPECT_FALSE(Access::lastTouched(*f.monitor).contains("999:1"));
    EXPECT_EQ(f.last().activeWindows.size(), 1u);
}

TEST(ScanCycle, AClockSetBackNeverMakesTheFocusedWindowTheOldest) {
    MonitorFixture f;
    f.monitor->limit = 2;
    const auto a = f.open(100, "A");
    const auto b = f.open(100, "B");
    f.monitor->scanNow();
    f.desktop.advance(120);
    f.monitor->scanNow();

    // The user sets the clock back an hour, then opens and focuses C.
    f.desktop.advance(-3600);
    const auto c = f.open(100, "C");
    f.source->current = c;
    f.monitor->scanNow();
    EXPECT_FALSE(f.isMinimized(c));
    EXPECT_TRUE(f.isMinimized(a));
    EXPECT_FALSE(f.isMinimized(b));
    // Ages run on from where they were.
    f.desktop.advance(10);
    f.monitor->scanNow();
    for (const auto& row : f.last().activeWindows) {
        EXPECT_EQ(row.openDurationSeconds, row.id == f.idOf(b) ? 130 : 10) << row.title;
    }
}

TEST(ScanCycle, FocusMovedAsTheClockIsSetBackOrStandsStillKeepsTheNewFocus) {
    for (const double step : {-0.7, -3600.0, 0.0}) {
        MonitorFixture f;
        f.monitor->limit = 2;
        const auto a = f.open(100, "A");
        const auto b = f.open(100, "B");
        // Focus moves to the one whose identifier sorts first, so a tie at
        // now would be settled against it.
        const auto [left, focused] = f.idOf(a) < f.idOf(b) ? std::pair(b, a) : std::pair(a, b);
        f.source->current = left;
        f.monitor->scanNow();
        f.desktop.advance(step);
        f.monitor->limit = 1;
        f.source->current = focused;
        f.monitor->scanNow();
        EXPECT_FALSE(f.isMinimized(focused)) << "clock step " << step;
        EXPECT_TRUE(f.isMinimized(left)) << "clock step " << step;
        EXPECT_EQ(rowIDs(f.last()), std::vector<std::string>{f.idOf(focused)}) << "clock step " << step;
    }
}

TEST(ScanCycle, AScanFromAnotherThreadIsAProgrammingError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            MonitorFixture f;
            std::thread([&] { f.monitor->scanNow(); }).join();
        },
        "WindowMonitor::scanNow was called from a thread other than the main thread");
}

} // namespace
} // namespace quellan
