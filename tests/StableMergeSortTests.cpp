#include "Sorting/StableMergeSort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>

namespace quellan {
namespace {

struct Tagged {
    int key = 0;
    int position = 0;
};

TEST(StableMergeSort, SortsAndKeepsEqualKeysInInputOrder) {
    std::mt19937 random(7);
    for (int size : {0, 1, 2, 3, 7, 64, 1000, 1023, 1025}) {
        std::vector<Tagged> values;
        for (int i = 0; i < size; ++i)
            values.push_back({static_cast<int>(random() % 10), i});
        auto expected = values;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const Tagged& a, const Tagged& b) { return a.key < b.key; });
        stableMergeSort(values, [](const Tagged& a, const Tagged& b) { return a.key < b.key; });
        ASSERT_EQ(values.size(), expected.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            EXPECT_EQ(values[i].key, expected[i].key);
            EXPECT_EQ(values[i].position, expected[i].position) << "size " << size << " index " << i;
        }
    }
}

TEST(StableMergeSort, SurvivesComparatorsThatAreNoOrderAtAll) {
    // Random answers, always-true and a case-blind order with holes: each must
    // end with every element present exactly once.
    std::mt19937 random(11);
    const auto check = [](auto comparator, std::mt19937& rng) {
        std::vector<Tagged> values;
        for (int i = 0; i < 777; ++i)
            values.push_back({static_cast<int>(rng() % 50), i});
        stableMergeSort(values, comparator);
        std::vector<int> positions;
        for (const auto& value : values)
            positions.push_back(value.position);
        std::sort(positions.begin(), positions.end());
        for (int i = 0; i < 777; ++i)
            ASSERT_EQ(positions[i], i);
    };
    check([&](const Tagged&, const Tagged&) { return random() % 2 == 0; }, random);
    check([](const Tagged&, const Tagged&) { return true; }, random);
    check([](const Tagged& a, const Tagged& b) { return a.key % 7 != b.key % 7 && a.key < b.key; }, random);
}

TEST(StableMergeSort, UnorderedNeighboursKeepTheirPlaces) {
    // "Mail" and "mail" are not ordered against each other; "Notes" follows both.
    std::vector<std::string> names{"mail", "Notes", "Mail", "mail"};
    const auto lower = [](std::string text) {
        for (auto& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    stableMergeSort(names, [&](const std::string& a, const std::string& b) { return a != b && lower(a) < lower(b); });
    EXPECT_EQ(names, (std::vector<std::string>{"mail", "Mail", "mail", "Notes"}));
}

} // namespace
} // namespace quellan
