// Unix signals heard in an event loop: the handler only writes the signal's
// number to a pipe, whose read end the loop watches.
#pragma once

#include <csignal>
#include <memory>
#include <span>
#include <vector>

namespace quellan::platform {

/// Handles `signals` while it lives and puts the previous handlers back when
/// it goes, then closes the pipe. Made and used on one thread; a second one
/// made while one lives takes over until it goes.
class SignalPipe {
public:
    /// Null, with no handler installed, when no pipe can be made.
    static std::unique_ptr<SignalPipe> install(std::span<const int> signals);
    ~SignalPipe();
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    /// The read end, non-blocking: readable once a signal has arrived.
    int descriptor() const { return ends_[0]; }
    /// The signals that arrived since the last call, each once, in the order they first came.
    std::vector<int> drain();
    /// Puts the previous handlers back before the pipe goes, so that the
    /// next of these signals does what it did before.
    void restoreHandlers();

private:
    SignalPipe(std::span<const int> signals, const int (&ends)[2]);

    std::vector<int> signals_;
    std::vector<struct sigaction> previous_;
    int ends_[2];
    int previousWriteEnd_ = -1;
    bool installed_ = false;
};

} // namespace quellan::platform
