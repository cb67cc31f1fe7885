// A fault-injection soak: the real accessibility window source and one
// long-lived monitor over a simulated desktop that changes and fails at
// random between and during scans, with what must hold of any scan checked
// after every step.
#pragma once

#include <cstdint>
#include <string>

namespace quellan::soak {

/// Runs steps from `seed` until `scans` scans are made. Empty when every
/// step kept its promises; otherwise the seed, the step and what broke.
std::string runSoak(std::uint64_t seed, std::int64_t scans);

} // namespace quellan::soak
