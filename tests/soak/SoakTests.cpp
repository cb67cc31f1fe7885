// Short soaks over a few seeds; quellan_soak makes the long ones.
#include "soak/SoakRun.hpp"

#include <gtest/gtest.h>

TEST(Soak, KeepsEveryPromiseOverThousandsOfScans) {
    for (const std::uint64_t seed : {1, 2, 3, 4})
        EXPECT_EQ(quellan::soak::runSoak(seed, 3'000), "");
}
