// A long fault-injection soak: the real accessibility window source on a
// simulated desktop that changes and fails at random between and during
// scans, one long-lived monitor, and every scan checked against the
// desktop's truth and the monitor's rules.
#pragma once

#include "Quellan/AccessibilityWindowSource.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace quellan::soak {

struct SoakOptions {
    std::uint64_t seed = 1;
    /// Scans to run; a setter call that is rejected scans nothing and does not count.
    std::int64_t scans = 100'000;
    /// Put between the real source and the monitor, so a test can prove
    /// that the checks catch a source that breaks its promises.
    std::function<std::shared_ptr<WindowSource>(std::shared_ptr<WindowSource>)> wrapSource;
};

struct SoakTotals {
    std::int64_t steps = 0;
    std::int64_t scans = 0;
    /// Scans whose snapshot was taken with trust, and those without.
    std::int64_t trustedScans = 0;
    std::int64_t untrustedScans = 0;
    std::int64_t timerTicks = 0;
    std::int64_t restarts = 0;
    std::int64_t setterScans = 0;
    std::int64_t rejectedSetterCalls = 0;
    /// Snapshots checked record for record against the desktop, and those
    /// changed while they were taken (checked as a subsequence).
    std::int64_t exactSnapshots = 0;
    std::int64_t disturbedSnapshots = 0;
    std::int64_t records = 0;
    std::int64_t mostRecords = 0;
    std::int64_t minimized = 0;
    std::int64_t failedMinimizations = 0;
    std::int64_t publications = 0;
    std::int64_t midScanEvents = 0;
    std::int64_t platformCalls = 0;
    std::int64_t elementsCreated = 0;
    /// Failures and odd answers set up on the desktop, by kind.
    std::map<std::string, std::int64_t> faults;
    /// Ordinary desktop changes, by kind.
    std::map<std::string, std::int64_t> changes;

    std::int64_t faultCount() const;
    std::int64_t changeCount() const;
};

struct SoakResult {
    bool passed = true;
    /// Seed, scan, what failed and the churn that led there.
    std::string failure;
    SoakTotals totals;
};

SoakResult runSoak(const SoakOptions& options);

} // namespace quellan::soak
