// One Quellan per user and display. Two would each keep their own limit,
// and the lower one would always win over the other menu's choice.
#pragma once

#include <memory>
#include <string>
#include <sys/types.h>

namespace quellan::qt {

/// Holds the lock for as long as it lives.
class InstanceLock {
public:
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    struct Result {
        /// Set when this process now holds the lock.
        std::unique_ptr<InstanceLock> lock;
        /// The process holding it when another does.
        pid_t holder = 0;
        /// Why neither is known: the lock file cannot be used.
        std::string error;
    };
    /// Takes the lock kept in `path`. A record lock dies with its process,
    /// so the file a crash leaves behind never blocks a later start.
    static Result acquire(const std::string& path);

private:
    explicit InstanceLock(int descriptor) : descriptor_(descriptor) {}
    int descriptor_;
};

/// The lock file for `display` (its screen left out, as one Quellan serves
/// every screen): in the runtime folder when it is an absolute path, else in `fallbackFolder`.
std::string instanceLockPath(const char* runtimeFolder, const std::string& display, const std::string& fallbackFolder);

/// Takes the lock for `display` in the runtime folder, or in `fallbackFolder`
/// when the runtime folder is unset or cannot be used (it cannot be
/// created, or written): two Quellans started with the same broken runtime
/// folder still find each other there.
InstanceLock::Result acquireInstanceLock(const char* runtimeFolder, const std::string& display,
                                         const std::string& fallbackFolder);

} // namespace quellan::qt
