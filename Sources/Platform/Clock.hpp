// Wall-clock instants as floating-point seconds, from a replaceable clock.
#pragma once

namespace quellan::clock {

/// Seconds since the Unix epoch, with sub-second precision. Wall-clock,
/// so it can jump when the user or the network sets the time.
using Instant = double;

class ClockBackend {
public:
    virtual ~ClockBackend() = default;
    virtual Instant now() = 0;
};

/// The system's wall clock.
class SystemClock final : public ClockBackend {
public:
    Instant now() override;
};

/// The one system clock, for the backends of a real desktop.
SystemClock& systemClock();

Instant now();

} // namespace quellan::clock
