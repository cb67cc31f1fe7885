#include "Sorting/StableMergeSort.hpp"
#include "Support.hpp"

#include <gtest/gtest.h>

namespace quellan {
namespace {

using testing_support::MonitorFixture;
using Access = WindowMonitorTestAccess;

ActiveWindowSummary row(std::string id, std::string app, std::string title) {
    return ActiveWindowSummary{std::move(id), std::move(app), std::move(title), 0, false};
}

std::vector<std::string> order(std::vector<ActiveWindowSummary> rows) {
    stableMergeSort(rows, summaryComesBefore);
    std::vector<std::string> ids;
    for (const auto& r : rows)
        ids.push_back(r.id);
    return ids;
}

TEST(SummaryOrder, NamesThenTitlesIgnoringCaseThenIdentifiersAsText) {
    EXPECT_EQ(order({row("1:1", "Notes", "x"), row("2:2", "mail", "x")}), (std::vector<std::string>{"2:2", "1:1"}));
    EXPECT_EQ(order({row("1:1", "Mail", "inbox"), row("1:2", "Mail", "Budget")}),
              (std::vector<std::string>{"1:2", "1:1"}));
    EXPECT_EQ(order({row("9:3", "Mail", "same"), row("12:7", "Mail", "same")}),
              (std::vector<std::string>{"12:7", "9:3"}));
    EXPECT_EQ(order({row("1:1", "", "b"), row("1:2", "Écrire", "a"), row("1:3", "Zeta", "a")}),
              (std::vector<std::string>{"1:1", "1:2", "1:3"}));
}

TEST(SummaryOrder, NamesThatDifferOnlyInCaseKeepTheirSnapshotOrder) {
    // Not ordered by name, and their titles are not consulted either.
    EXPECT_EQ(order({row("1:1", "mail", "zzz"), row("2:1", "Mail", "aaa"), row("3:1", "Mail", "mmm")}),
              (std::vector<std::string>{"1:1", "2:1", "3:1"}));
    EXPECT_EQ(order({row("2:1", "Mail", "aaa"), row("1:1", "mail", "zzz")}), (std::vector<std::string>{"2:1", "1:1"}));
}

TEST(StatePublication, TheFirstStateAlwaysReachesTheObserverAndRepeatsDoNot) {
    MonitorFixture f;
    f.desktop.trusted = false;
    f.monitor->scanNow();
    f.monitor->scanNow();
    f.monitor->scanNow();
    ASSERT_EQ(f.published.size(), 1u);
    EXPECT_EQ(f.published[0], (MonitorState{false, 0, 3, std::nullopt, {}}));

    f.monitor->limit = 5;
    f.monitor->scanNow();
    ASSERT_EQ(f.published.size(), 2u);
    EXPECT_EQ(f.published[1].limit, 5);

    f.desktop.trusted = true;
    f.monitor->scanNow();
    ASSERT_EQ(f.published.size(), 3u);
    EXPECT_TRUE(f.published[2].isTrusted);
}

TEST(StatePublication, AStateDiffersWhenARowDurationGrowsAWholeSecond) {
    MonitorFixture f;
    f.open(100, "A");
    f.monitor->scanNow();
    f.desktop.advance(0.4);
    f.monitor->scanNow();
    EXPECT_EQ(f.published.size(), 1u);
    f.desktop.advance(0.6);
    f.monitor->scanNow();
    ASSERT_EQ(f.published.size(), 2u);
    EXPECT_EQ(f.last().activeWindows[0].openDurationSeconds, 1);

    f.monitor->limit = 5;
    f.monitor->scanNow();
    ASSERT_EQ(f.published.size(), 3u);
    MonitorState expected = f.published[1];
    expected.limit = 5;
    EXPECT_EQ(f.last(), expected);
}

TEST(StatePublication, DurationsAreWholeSecondsTruncated) {
    MonitorFixture f;
    f.open(100, "A");
    f.monitor->scanNow();
    f.desktop.advance(59.9);
    f.monitor->scanNow();
    EXPECT_EQ(f.last().activeWindows[0].openDurationSeconds, 59);
}

TEST(StatePublication, TrustIsAskedAgainWhenTheStateIsMade) {
    MonitorFixture f;
    f.open(100, "A");
    f.source->duringSnapshot = [&] { f.desktop.trusted = false; };
    f.monitor->scanNow();
    EXPECT_FALSE(f.last().isTrusted);
    EXPECT_EQ(f.last().visibleWindowCount, 1);
}

TEST(StatePublication, RowsFollowTheSummaryOrderNotTheSnapshot) {
    MonitorFixture f;
    f.source->applicationNames = {{100, "Notes"}, {200, "mail"}};
    f.open(100, "n");
    f.open(200, "m");
    f.monitor->scanNow();
    ASSERT_EQ(f.last().activeWindows.size(), 2u);
    EXPECT_EQ(f.last().activeWindows[0].applicationName, "mail");
}

TEST(SummaryOrder, TheLastOrderIsKeptOnlyWhileTheRowsStayTheSame) {
    SummarySorter sorter;
    const auto sortedIDs = [&](std::vector<ActiveWindowSummary> rows) {
        sorter.sort(rows);
        std::vector<std::string> ids;
        for (const auto& r : rows)
            ids.push_back(r.id);
        return ids;
    };
    const std::vector<std::string> ab{"1:1", "1:2"}, ba{"1:2", "1:1"};
    EXPECT_EQ(sortedIDs({row("1:1", "Mail", "a"), row("1:2", "Mail", "b")}), ab);
    EXPECT_EQ(sortedIDs({row("1:1", "Mail", "a"), row("1:2", "Mail", "b")}), ab) << "same rows";
    EXPECT_EQ(sortedIDs({row("1:1", "Mail", "c"), row("1:2", "Mail", "b")}), ba) << "a title changed";
    EXPECT_EQ(sortedIDs({row("1:2", "Mail", "b"), row("1:1", "Mail", "c")}), ba) << "snapshot order changed";
    EXPECT_EQ(sortedIDs({row("1:2", "Mail", "b"), row("1:3", "Mail", "a")}), (std::vector<std::string>{"1:3", "1:2"}))
        << "another window in the same place";
    EXPECT_EQ(sortedIDs({row("1:3", "Post", "a"), row("1:2", "Mail", "b")}), (std::vector<std::string>{"1:2", "1:3"}))
        << "an application name changed";
    EXPECT_EQ(sortedIDs({}), std::vector<std::string>{});
}

TEST(StatePublication, WithoutAnObserverTheStateIsStillRecorded) {
    MonitorFixture f;
    f.monitor->onStateChange = nullptr;
    f.monitor->scanNow();
    ASSERT_TRUE(Access::lastState(*f.monitor).has_value());
    f.monitor->onStateChange = [&](const MonitorState& s) { f.published.push_back(s); };
    f.monitor->scanNow();
    EXPECT_TRUE(f.published.empty()) << "nothing changed since the recorded state";
    f.monitor->limit = 4;
    f.monitor->scanNow();
    EXPECT_EQ(f.published.size(), 1u);
}

TEST(StatePublication, AnObserverMayChangeTheMonitorWhileItIsCalled) {
    MonitorFixture f;
    f.open(100, "A");
    int calls = 0;
    f.monitor->onStateChange = [&](const MonitorState& state) {
        ++calls;
        EXPECT_EQ(state.limit, calls == 1 ? 3 : 7);
        if (calls == 1) {
            f.monitor->limit = 7;
            f.monitor->onStateChange = [&](const MonitorState&) { ++calls; };
            f.monitor->scanNow();
        }
    };
    f.monitor->scanNow();
    EXPECT_EQ(calls, 2);
}

} // namespace
} // namespace quellan
