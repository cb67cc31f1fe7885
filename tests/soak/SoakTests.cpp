// Short soaks over a few seeds. QUELLAN_SOAK_SCANS (and QUELLAN_SOAK_SEED)
// make one long run instead; the failure names the seed and step.
#include "soak/SoakRun.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

TEST(Soak, KeepsEveryPromiseOverThousandsOfScans) {
    if (const char* scans = std::getenv("QUELLAN_SOAK_SCANS")) {
        const char* seed = std::getenv("QUELLAN_SOAK_SEED");
        EXPECT_EQ(quellan::soak::runSoak(seed ? std::stoull(seed) : 20260101, std::stoll(scans)), "");
        return;
    }
    for (const std::uint64_t seed : {1, 2, 3, 4})
        EXPECT_EQ(quellan::soak::runSoak(seed, 3'000), "");
}
