#include "Platform/SignalPipe.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace quellan::platform {

namespace {

// The handler's only way to the pipe; atomic, so reading it is safe in a handler.
std::atomic<int> writeEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t ignored = write(writeEnd.load(), &byte, 1);
    errno = saved;
}

bool makePipe(int (&ends)[2]) {
#ifdef __linux__
    return pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0;
#else
    // No pipe2 on macOS.
    if (pipe(ends) != 0) return false;
    for (const int fd : ends) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return true;
#endif
}

} // namespace

std::unique_ptr<SignalPipe> SignalPipe::install(std::span<const int> signals) {
    int ends[2];
    if (!makePipe(ends)) return nullptr;
    return std::unique_ptr<SignalPipe>(new SignalPipe(signals, ends));
}

SignalPipe::SignalPipe(std::span<const int> signals, const int (&ends)[2])
    : signals_(signals.begin(), signals.end()), previous_(signals.size()), ends_{ends[0], ends[1]} {
    previousWriteEnd_ = writeEnd.exchange(ends_[1]);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < signals_.size(); ++i)
        sigaction(signals_[i], &action, &previous_[i]);
    installed_ = true;
}

SignalPipe::~SignalPipe() {
    restoreHandlers();
    writeEnd.store(previousWriteEnd_);
    close(ends_[0]);
    close(ends_[1]);
}

std::vector<int> SignalPipe::drain() {
    std::vector<int> arrived;
    char bytes[16];
    for (ssize_t count; (count = read(ends_[0], bytes, sizeof bytes)) > 0;) {
        for (ssize_t i = 0; i < count; ++i) {
            if (std::find(arrived.begin(), arrived.end(), bytes[i]) == arrived.end()) arrived.push_back(bytes[i]);
        }
    }
    return arrived;
}

void SignalPipe::restoreHandlers() {
    if (!std::exchange(installed_, false)) return;
    for (std::size_t i = 0; i < signals_.size(); ++i)
        sigaction(signals_[i], &previous_[i], nullptr);
}

} // namespace quellan::platform
