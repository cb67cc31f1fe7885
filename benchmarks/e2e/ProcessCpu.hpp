// What a running program costs, for the benchmarks that run the real one.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/types.h>
#include <thread>

namespace quellan::benchmarks {

/// The CPU nanoseconds of each thread of `pid` so far, by thread id.
inline std::map<std::string, double> threadCpu(pid_t pid) {
    std::map<std::string, double> threads;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        double onCpu = 0;
        if (schedstat >> onCpu) threads[task.path().filename().string()] = onCpu;
    }
    return threads;
}

/// How many times the main thread of `pid` has been given the CPU so far:
/// each time it woke up, to a timer or to something to read.
inline double mainThreadWakeups(pid_t pid) {
    std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
    double onCpu = 0, waiting = 0, slices = 0;
    schedstat >> onCpu >> waiting >> slices;
    return slices;
}

/// A program's cost over a span: CPU as a share of one core (of all its
/// threads), the display server's over the same span, the main thread's wakeups.
struct Usage {
    double cpuPercent = 0, serverCpuPercent = 0, wakeupsPerMinute = 0, seconds = 0;
};

/// Watches `pid` and `server` (0: none) for `span`. Threads are read every
/// half second, so that one ending meanwhile (a pool's idle thread) still
/// counts up to its last reading rather than taking its time with it.
inline Usage measureUsage(pid_t pid, pid_t server, std::chrono::duration<double> span) {
    struct Watched {
        pid_t pid;
        std::map<std::string, double> first, last;
        void read() {
            for (const auto& [thread, onCpu] : threadCpu(pid)) {
                first.try_emplace(thread, 0.0); // a thread born meanwhile counts whole
                last[thread] = onCpu;
            }
        }
        double seconds() const {
            double total = 0;
            for (const auto& [thread, onCpu] : last)
                total += onCpu - first.at(thread);
            return total / 1e9;
        }
    };
    Watched program{pid, threadCpu(pid), {}},
        display{server, server ? threadCpu(server) : std::map<std::string, double>{}, {}};
    const double wakeups = mainThreadWakeups(pid);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(span);
    for (Clock::time_point now = start; now < end; now = Clock::now()) {
        std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(500)));
        program.read();
        if (server) display.read();
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    return Usage{program.seconds() / wall * 100, display.seconds() / wall * 100,
                 (mainThreadWakeups(pid) - wakeups) / wall * 60, wall};
}

} // namespace quellan::benchmarks
