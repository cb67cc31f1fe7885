// The decision rules: which visible windows to minimize to keep the count
// under the limit, and which have been inactive too long. Pure functions
// of their arguments: no clock, no settings, no platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quellan {

/// A window identifier and the instant it was last used, in wall-clock
/// seconds since the Unix epoch.
struct WindowActivity {
    WindowActivity(std::string id, double lastTouched) : id(std::move(id)), lastTouched(lastTouched) {}

    const std::string id;
    const double lastTouched;

    bool operator==(const WindowActivity&) const = default;
};

/// The least recently used window comes first: earlier `lastTouched`, then,
/// for equal instants, the smaller `id` in code-point order. Sorting is
/// stable, so activities equal in both keep their input order.
namespace WindowLimitPolicy {

/// The identifiers to minimize so that at most max(`limit`, 0) windows stay,
/// least recently used first.
std::vector<std::string> windowsToMinimize(const std::vector<WindowActivity>& from, std::int64_t limit);

/// The identifiers of windows unused for at least `inactiveInterval` seconds
/// at `now`, never `currentWindowID`, least recently used first. A
/// non-positive or not-a-number interval chooses nothing.
std::vector<std::string> inactiveWindowsToMinimize(const std::vector<WindowActivity>& from, double inactiveInterval,
                                                   double now, const std::optional<std::string>& currentWindowID);

} // namespace WindowLimitPolicy
} // namespace quellan
