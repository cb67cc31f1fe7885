#include "Sorting/StableMergeSort.hpp"
#include "Support.hpp"

#include <gtest/gtest.h>

namespace quellan {
namespace {

using testing_support::MonitorFixture;
using Ids = std::vector<std::string>;

ActiveWindowSummary row(std::string id, std::string app, std::string title) {
    return ActiveWindowSummary{std::move(id), std::move(app), std::move(title), 0, false};
}

Ids idsOf(const std::vector<ActiveWindowSummary>& rows) {
    Ids ids;
    for (const auto& r : rows)
        ids.push_back(r.id);
    return ids;
}

TEST(SummaryOrder, NamesThenTitlesIgnoringCaseThenIdentifiersAsText) {
    const std::vector<std::pair<std::vector<ActiveWindowSummary>, Ids>> table{
        {{row("1:1", "Notes", "x"), row("2:2", "mail", "x")}, {"2:2", "1:1"}},
        {{row("1:1", "Mail", "inbox"), row("1:2", "Mail", "Budget")}, {"1:2", "1:1"}},
        {{row("9:3", "Mail", "same"), row("12:7", "Mail", "same")}, {"12:7", "9:3"}},
        {{row("1:1", "", "b"), row("1:2", "Écrire", "a"), row("1:3", "Zeta", "a")}, {"1:1", "1:2", "1:3"}},
        // Names that differ only in case stay in snapshot order, titles unread.
        {{row("1:1", "mail", "zzz"), row("2:1", "Mail", "aaa"), row("3:1", "Mail", "mmm")}, {"1:1", "2:1", "3:1"}},
    };
    for (auto [rows, expected] : table) {
        stableMergeSort(rows, summaryComesBefore);
        EXPECT_EQ(idsOf(rows), expected);
    }
}

TEST(SummaryOrder, TheLastOrderIsKeptOnlyWhileTheRowsStayTheSame) {
    SummarySorter sorter;
    const auto sorted = [&](std::vector<ActiveWindowSummary> rows) {
        sorter.sort(rows);
        return idsOf(rows);
    };
    const Ids ab{"1:1", "1:2"}, ba{"1:2", "1:1"};
    EXPECT_EQ(sorted({row("1:1", "Mail", "a"), row("1:2", "Mail", "b")}), ab);
    EXPECT_EQ(sorted({row("1:1", "Mail", "a"), row("1:2", "Mail", "b")}), ab) << "same rows";
    EXPECT_EQ(sorted({row("1:1", "Mail", "c"), row("1:2", "Mail", "b")}), ba) << "a title changed";
    EXPECT_EQ(sorted({row("1:2", "Mail", "b"), row("1:3", "Mail", "a")}), (Ids{"1:3", "1:2"})) << "another window";
}

TEST(StatePublication, AStateIsPublishedOnlyWhenItChangesWithWholeSecondsTruncated) {
    MonitorFixture f;
    f.open(100, "A");
    f.monitor->scanNow();
    f.desktop.advance(0.9);
    f.monitor->scanNow();
    EXPECT_EQ(f.published.size(), 1u);
    f.desktop.advance(58.9);
    f.monitor->scanNow();
    ASSERT_EQ(f.published.size(), 2u);
    EXPECT_EQ(f.last().activeWindows[0].openDurationSeconds, 59);
    f.monitor->limit = 5;
    f.monitor->scanNow();
    ASSERT_EQ(f.published.size(), 3u);
    EXPECT_EQ(f.last().limit, 5);
}

} // namespace
} // namespace quellan
