// The real program started on a desktop of its own, for the benchmarks that measure it.
#pragma once

#include "DesktopSession.hpp"

#include <memory>
#include <string>

namespace quellan::e2e {

struct Running {
    std::unique_ptr<DesktopSession> session;
    /// Null, with the error said, when the desktop or Quellan would not start.
    std::unique_ptr<Process> quellan;
};

/// Starts `desktop` (as `DesktopSession::start` names it), then Quellan with `settings`.
inline Running startQuellanOn(const std::string& desktop, const std::string& settings, std::string& error) {
    Running running{DesktopSession::start(desktop, error), nullptr};
    if (!running.session) return running;
    running.session->writeSettings(settings);
    running.quellan = running.session->startQuellan(error);
    return running;
}

} // namespace quellan::e2e
