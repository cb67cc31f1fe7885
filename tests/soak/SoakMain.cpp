// The long soak: quellan_soak [--scans N] [--seed S]. Exits non-zero with
// the seed and step of the first broken promise.
#include "soak/SoakRun.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    long long seed = 20260101, scans = 100'000;
    for (int i = 1; i < argc; i += 2) {
        const bool isSeed = std::strcmp(argv[i], "--seed") == 0;
        if ((!isSeed && std::strcmp(argv[i], "--scans") != 0) || i + 1 == argc)
            return std::fprintf(stderr, "usage: %s [--scans N] [--seed S]\n", argv[0]), 2;
        (isSeed ? seed : scans) = std::atoll(argv[i + 1]);
    }
    const std::string failure = quellan::soak::runSoak(static_cast<std::uint64_t>(seed), scans);
    std::printf("seed %lld, %lld scans: %s\n%s", seed, scans, failure.empty() ? "passed" : "FAILED", failure.c_str());
    return failure.empty() ? 0 : 1;
}
