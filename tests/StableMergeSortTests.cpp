#include "Sorting/StableMergeSort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace quellan {
namespace {

struct Tagged {
    int key = 0;
    int position = 0;
    bool operator==(const Tagged&) const = default;
};

TEST(StableMergeSort, SortsStablyAndSurvivesComparatorsThatAreNoOrder) {
    std::mt19937 random(7);
    const auto byKey = [](const Tagged& a, const Tagged& b) { return a.key < b.key; };
    for (int size : {0, 1, 2, 3, 7, 64, 1023, 1025}) {
        std::vector<Tagged> values;
        for (int i = 0; i < size; ++i)
            values.push_back({static_cast<int>(random() % 10), i});
        auto expected = values;
        std::stable_sort(expected.begin(), expected.end(), byKey);
        auto sorted = values;
        stableMergeSort(sorted, byKey);
        EXPECT_EQ(sorted, expected) << "size " << size;
        // Random answers must still leave every element present exactly once.
        stableMergeSort(values, [&](const Tagged&, const Tagged&) { return random() % 2 == 0; });
        std::sort(values.begin(), values.end(), [](auto& a, auto& b) { return a.position < b.position; });
        for (int i = 0; i < size; ++i)
            ASSERT_EQ(values[static_cast<std::size_t>(i)].position, i);
    }
}

} // namespace
} // namespace quellan
