#include "Platform/qt/InstanceLock.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace quellan::qt {

InstanceLock::~InstanceLock() { close(descriptor_); }

namespace {

InstanceLock::Result failure(const std::string& path, int error) {
    InstanceLock::Result result;
    result.error = path + ": " + std::strerror(error);
    return result;
}

} // namespace

InstanceLock::Result InstanceLock::acquire(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    const int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) return failure(path, errno);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    // A second round covers a holder that ended between the two calls.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (fcntl(descriptor, F_SETLK, &whole) == 0) {
            Result held;
            held.lock.reset(new InstanceLock(descriptor));
            return held;
        }
        if (errno != EACCES && errno != EAGAIN) break;
        // The kernel names the holder, so no pid is written that could go stale.
        struct flock probe = whole;
        if (fcntl(descriptor, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) {
            close(descriptor);
            Result elsewhere;
            elsewhere.holder = probe.l_pid;
            return elsewhere;
        }
    }
    const int error = errno;
    close(descriptor);
    return failure(path, error);
}

std::string instanceLockPath(const char* runtimeFolder, const std::string& display, const std::string& fallbackFolder) {
    std::string key = display;
    if (const auto colon = key.rfind(':'); colon != std::string::npos) {
        if (const auto dot = key.find('.', colon); dot != std::string::npos) key.erase(dot);
    }
    std::ranges::replace(key, '/', '_');
    const std::string folder = runtimeFolder != nullptr && runtimeFolder[0] == '/' ? runtimeFolder : fallbackFolder;
    return folder + "/quellan-" + key + ".lock";
}

InstanceLock::Result acquireInstanceLock(const char* runtimeFolder, const std::string& display,
                                         const std::string& fallbackFolder) {
    InstanceLock::Result result = InstanceLock::acquire(instanceLockPath(runtimeFolder, display, fallbackFolder));
    if (result.lock || result.holder != 0) return result;
    return InstanceLock::acquire(instanceLockPath(nullptr, display, fallbackFolder));
}

} // namespace quellan::qt
