// The CPU time a process has used so far, for the benchmarks that run the real program.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/types.h>

namespace quellan::benchmarks {

/// CPU time of every thread of `pid` so far, in nanoseconds.
inline double cpuNanoseconds(pid_t pid) {
    double total = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        double onCpu = 0;
        if (schedstat >> onCpu) total += onCpu;
    }
    return total;
}

/// How many times the main thread of `pid` has been given the CPU so far:
/// each time it woke up, to a timer or to something to read.
inline double mainThreadWakeups(pid_t pid) {
    std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
    double onCpu = 0, waiting = 0, slices = 0;
    schedstat >> onCpu >> waiting >> slices;
    return slices;
}

} // namespace quellan::benchmarks
