// The long soak: quellan_soak [--scans N] [--seed S]. Prints the figures
// and exits non-zero with a replayable report when a scan breaks a promise.
#include "soak/SoakRun.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool parse(const char* text, long long& value) {
    char* end = nullptr;
    value = std::strtoll(text, &end, 10);
    return end != text && *end == '\0';
}

} // namespace

int main(int argc, char** argv) {
    quellan::soak::SoakOptions options;
    options.seed = 20260101;
    options.scans = 100'000;
    for (int i = 1; i < argc; ++i) {
        long long value = 0;
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--scans") == 0 && hasValue && parse(argv[i + 1], value) && value > 0) {
            options.scans = value;
            ++i;
        } else if (std::strcmp(argv[i], "--seed") == 0 && hasValue && parse(argv[i + 1], value)) {
            options.seed = static_cast<std::uint64_t>(value);
            ++i;
        } else {
            std::fprintf(stderr, "usage: %s [--scans N] [--seed S]\n", argv[0]);
            return 2;
        }
    }

    const auto started = std::chrono::steady_clock::now();
    const auto result = quellan::soak::runSoak(options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const auto& t = result.totals;

    std::printf("seed %llu: %lld scans in %.2f s, %.0f scans/s\n", static_cast<unsigned long long>(options.seed),
                static_cast<long long>(t.scans), seconds, seconds > 0 ? static_cast<double>(t.scans) / seconds : 0.0);
    std::printf("  %lld steps; %lld scans without trust, %lld timer ticks, %lld restarts, %lld setter calls "
                "rejected\n",
                static_cast<long long>(t.steps), static_cast<long long>(t.untrustedScans),
                static_cast<long long>(t.timerTicks), static_cast<long long>(t.restarts),
                static_cast<long long>(t.rejectedSetterCalls));
    std::printf("  %lld records, %lld scans checked against the limit; minimized %lld windows, %lld attempts failed\n",
                static_cast<long long>(t.records), static_cast<long long>(t.limitChecks),
                static_cast<long long>(t.minimized), static_cast<long long>(t.failedMinimizations));
    std::printf("  %lld states published, %lld mid-scan events, %lld elements made\n",
                static_cast<long long>(t.publications), static_cast<long long>(t.midScanEvents),
                static_cast<long long>(t.elementsCreated));
    std::printf("  faults by kind:\n");
    for (const auto& [kind, count] : t.faults)
        std::printf("    %-22s %lld\n", kind.c_str(), static_cast<long long>(count));
    if (!result.passed) {
        std::fputs(result.failure.c_str(), stderr);
        std::puts("FAILED");
        return 1;
    }
    std::puts("PASSED");
    return 0;
}
