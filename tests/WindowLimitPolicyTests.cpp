#include "QuellanCore/WindowLimitPolicy.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace quellan {
namespace {

using Ids = std::vector<std::string>;
using WindowLimitPolicy::inactiveWindowsToMinimize;
using WindowLimitPolicy::windowsToMinimize;

TEST(WindowLimitPolicy, ChoosesTheExcessLeastRecentlyUsedFirst) {
    const std::vector<WindowActivity> five{{"a", 50}, {"b", 10}, {"c", 40}, {"d", 20}, {"e", 30}};
    const std::vector<std::pair<std::int64_t, Ids>> table{
        {5, {}},
        {9, {}},
        {3, {"b", "d"}},
        {1, {"b", "d", "e", "c"}},
        {0, {"b", "d", "e", "c", "a"}},
        {std::numeric_limits<std::int64_t>::min(), {"b", "d", "e", "c", "a"}},
    };
    for (const auto& [limit, chosen] : table)
        EXPECT_EQ(windowsToMinimize(five, limit), chosen) << "limit " << limit;
    // Equal instants: identifiers compare as text, not as numbers.
    EXPECT_EQ(windowsToMinimize({{"9:3", 7}, {"12:7", 7}}, 1), Ids{"12:7"});
}

TEST(WindowLimitPolicy, InactiveWindowsAreThoseIdleForTheIntervalOldestFirstSparingTheFocused) {
    const double now = 10'000;
    const std::vector<WindowActivity> activities{
        {"exact", now - 600}, {"almost", now - 599.5}, {"cur", now - 9000}, {"old", now - 1800}, {"future", now + 50}};
    EXPECT_EQ(inactiveWindowsToMinimize(activities, 600, now, std::string("cur")), (Ids{"old", "exact"}));
    EXPECT_EQ(inactiveWindowsToMinimize(activities, 600, now, std::nullopt), (Ids{"cur", "old", "exact"}));
    EXPECT_EQ(inactiveWindowsToMinimize(activities, 0, now, std::nullopt), Ids{});
}

} // namespace
} // namespace quellan
