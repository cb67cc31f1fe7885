// Which backends serve the platform calls. A program installs its backends
// once at start; a test installs simulated ones for its own duration.
#pragma once

#include "Platform/Accessibility.hpp"
#include "Platform/Clock.hpp"
#include "Platform/RunLoop.hpp"
#include "Platform/Workspace.hpp"

namespace quellan::platform {

struct Backends {
    ax::AccessibilityBackend* accessibility = nullptr;
    workspace::WorkspaceBackend* workspace = nullptr;
    clock::ClockBackend* clock = nullptr;
    RunLoop* runLoop = nullptr;
};

/// Installs `backends` and returns the ones installed before.
Backends install(const Backends& backends) noexcept;
const Backends& installed() noexcept;

/// The main thread's run loop of the installed backends.
RunLoop& mainRunLoop() noexcept;

/// Installs backends for its lifetime and restores the previous ones after.
class ScopedBackends {
public:
    explicit ScopedBackends(const Backends& backends) noexcept : previous_(install(backends)) {}
    ~ScopedBackends() { install(previous_); }
    ScopedBackends(const ScopedBackends&) = delete;
    ScopedBackends& operator=(const ScopedBackends&) = delete;

private:
    Backends previous_;
};

} // namespace quellan::platform
