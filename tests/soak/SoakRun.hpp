// A long fault-injection soak: the real accessibility window source on a
// simulated desktop that changes and fails at random between and during
// scans, one long-lived monitor, and after every step the promises that
// must hold whatever the desktop did.
#pragma once

#include "Platform/simulated/SimulatedDesktop.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace quellan::soak {

struct SoakOptions {
    std::uint64_t seed = 1;
    /// Scans to run, counted as the monitor's trust checks.
    std::int64_t scans = 100'000;
    /// Put between the real source and the monitor, so a test can prove
    /// that the checks catch a source that breaks its promises.
    std::function<std::shared_ptr<WindowSource>(std::shared_ptr<WindowSource>, simulated::SimulatedDesktop&)>
        wrapSource;
};

struct SoakTotals {
    std::int64_t steps = 0;
    std::int64_t scans = 0;
    std::int64_t untrustedScans = 0;
    std::int64_t timerTicks = 0;
    std::int64_t restarts = 0;
    std::int64_t rejectedSetterCalls = 0;
    std::int64_t records = 0;
    /// Scans clean enough (every record distinct, every request answered)
    /// for the limit to be checked exactly.
    std::int64_t limitChecks = 0;
    std::int64_t minimized = 0;
    std::int64_t failedMinimizations = 0;
    std::int64_t publications = 0;
    std::int64_t midScanEvents = 0;
    std::int64_t elementsCreated = 0;
    /// Failures and odd answers set up on the desktop, by kind.
    std::map<std::string, std::int64_t> faults;
};

struct SoakResult {
    bool passed = true;
    /// Seed, scan, what failed, how to replay it and the churn that led there.
    std::string failure;
    SoakTotals totals;
};

SoakResult runSoak(const SoakOptions& options);

} // namespace quellan::soak
