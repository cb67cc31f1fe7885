#include "QuellanCore/WindowLimitPolicy.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quellan {
namespace {

using Ids = std::vector<std::string>;
using WindowLimitPolicy::inactiveWindowsToMinimize;
using WindowLimitPolicy::windowsToMinimize;

std::vector<WindowActivity> fiveWindows() { return {{"a", 50}, {"b", 10}, {"c", 40}, {"d", 20}, {"e", 30}}; }

TEST(WindowsToMinimize, ChoosesOnlyTheExcessLeastRecentlyUsedFirst) {
    EXPECT_EQ(windowsToMinimize(fiveWindows(), 5), Ids{});
    EXPECT_EQ(windowsToMinimize(fiveWindows(), 9), Ids{});
    EXPECT_EQ(windowsToMinimize(fiveWindows(), 3), (Ids{"b", "d"}));
    EXPECT_EQ(windowsToMinimize(fiveWindows(), 1), (Ids{"b", "d", "e", "c"}));
    EXPECT_EQ(windowsToMinimize({}, 0), Ids{});
}

TEST(WindowsToMinimize, ALimitOfZeroOrLessNamesEveryWindowInActivityOrder) {
    const std::vector<WindowActivity> three{{"x", 3}, {"y", 1}, {"z", 2}};
    EXPECT_EQ(windowsToMinimize(three, 0), (Ids{"y", "z", "x"}));
    EXPECT_EQ(windowsToMinimize(three, -4), (Ids{"y", "z", "x"}));
    EXPECT_EQ(windowsToMinimize(three, std::numeric_limits<std::int64_t>::min()), (Ids{"y", "z", "x"}));
    EXPECT_EQ(windowsToMinimize(three, std::numeric_limits<std::int64_t>::max()), Ids{});
}

TEST(WindowsToMinimize, EqualInstantsAreOrderedByIdentifierAsTextNotNumber) {
    EXPECT_EQ(windowsToMinimize({{"9:3", 7}, {"12:7", 7}}, 1), Ids{"12:7"});
}

TEST(WindowsToMinimize, DuplicateEntriesAreBothChosenInInputOrder) {
    const std::vector<WindowActivity> activities{{"dup", 5}, {"other", 9}, {"dup", 5}};
    EXPECT_EQ(windowsToMinimize(activities, 1), (Ids{"dup", "dup"}));
}

TEST(WindowsToMinimize, LeavesItsInputAlone) {
    const auto input = fiveWindows();
    const auto copy = input;
    (void)windowsToMinimize(input, 2);
    EXPECT_EQ(input, copy);
}

TEST(WindowsToMinimize, ANotANumberInstantNeitherCrashesNorLosesEntries) {
    const double nan = std::nan("");
    std::vector<WindowActivity> activities;
    for (int i = 0; i < 40; ++i)
        activities.emplace_back("w" + std::to_string(i), i % 3 == 0 ? nan : i);
    const Ids chosen = windowsToMinimize(activities, 10);
    EXPECT_EQ(chosen.size(), 30u);
}

TEST(InactiveWindowsToMinimize, AnIntervalThatIsNotPositiveChoosesNothing) {
    const std::vector<WindowActivity> old{{"a", 0}, {"b", 1}};
    for (const double interval : {0.0, -60.0, std::nan("")}) {
        EXPECT_EQ(inactiveWindowsToMinimize(old, interval, 1e9, std::nullopt), Ids{}) << interval;
    }
    EXPECT_EQ(inactiveWindowsToMinimize({}, 60, 1e9, std::nullopt), Ids{});
}

TEST(InactiveWindowsToMinimize, TheBoundaryCountsAsInactive) {
    const double now = 10'000;
    const std::vector<WindowActivity> activities{{"exact", now - 600}, {"almost", now - 599.5}, {"future", now + 50}};
    EXPECT_EQ(inactiveWindowsToMinimize(activities, 600, now, std::nullopt), Ids{"exact"});
}

TEST(InactiveWindowsToMinimize, TheCurrentWindowIsExemptEveryTimeItIsListed) {
    const std::vector<WindowActivity> activities{{"cur", 0}, {"a", 1}, {"cur", 2}};
    EXPECT_EQ(inactiveWindowsToMinimize(activities, 60, 1e6, std::string("cur")), Ids{"a"});
    EXPECT_EQ(inactiveWindowsToMinimize(activities, 60, 1e6, std::nullopt), (Ids{"cur", "a", "cur"}));
}

TEST(InactiveWindowsToMinimize, ResultIsOldestFirstNotInputOrder) {
    const double now = 100'000;
    const std::vector<WindowActivity> activities{{"a", now - 600}, {"b", now - 1800}, {"c", now - 1200}};
    EXPECT_EQ(inactiveWindowsToMinimize(activities, 300, now, std::nullopt), (Ids{"b", "c", "a"}));
}

} // namespace
} // namespace quellan
