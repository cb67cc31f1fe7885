// The long soak: quellan_soak [--scans N] [--seed S]. Exits non-zero with
// the seed and step of the first broken promise.
#include "soak/SoakRun.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    long long seed = 20260101;
    long long scans = 100'000;
    for (int i = 1; i < argc; i += 2) {
        char* end = nullptr;
        const bool isScans = std::strcmp(argv[i], "--scans") == 0;
        long long* target = isScans ? &scans : std::strcmp(argv[i], "--seed") == 0 ? &seed : nullptr;
        if (target) *target = i + 1 < argc ? std::strtoll(argv[i + 1], &end, 10) : 0;
        if (!target || end == argv[i + 1] || *end != '\0' || (isScans && scans <= 0)) {
            std::fprintf(stderr, "usage: %s [--scans N] [--seed S]\n", argv[0]);
            return 2;
        }
    }
    const std::string failure = quellan::soak::runSoak(static_cast<std::uint64_t>(seed), scans);
    std::printf("seed %lld, %lld scans: %s\n", seed, scans, failure.empty() ? "PASSED" : "FAILED");
    std::fputs(failure.c_str(), stderr);
    return failure.empty() ? 0 : 1;
}
