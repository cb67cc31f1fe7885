#include "Platform/model/MinimizeRequests.hpp"

#include "Platform/Platform.hpp"

#include <algorithm>
#include <utility>

namespace quellan::platform {

bool MinimizeRequests::mayAsk(WindowKey window, Clock::time_point now) {
    if (refuses(now)) return false;
    const auto pause = pausedUntil_.find(window);
    if (pause == pausedUntil_.end()) return true;
    if (now < pause->second) return false;
    pausedUntil_.erase(pause);
    return true;
}

void MinimizeRequests::sent(WindowKey window, Clock::time_point now) {
    pending_.insert_or_assign(window, Request{now, ++sequence_, std::nullopt});
}

bool MinimizeRequests::wantsPing() const { return pingable() && !pingCovers_ && lastCovered_ < sequence_; }

void MinimizeRequests::pinged(Clock::time_point now, std::uint64_t look) {
    pingCovers_ = sequence_;
    pingSentAt_ = now;
    pingLook_ = look;
}

bool MinimizeRequests::behind(Clock::time_point now, std::uint64_t look) const {
    // A desktop met at start gets a moment to show whether it answers at all.
    constexpr auto kFirstAnswer = std::chrono::seconds(2);
    return pingCovers_ && ((awaitingFirstAnswer_ && now - pingSentAt_ < kFirstAnswer) ||
                           (support_ == Support::answers && pingLook_ < look));
}

void MinimizeRequests::ponged(Clock::time_point now) {
    if (!pingCovers_) return;
    for (auto& [window, request] : pending_) {
        if (request.sequence <= *pingCovers_ && !request.readBy) request.readBy = now;
    }
    lastCovered_ = std::max(lastCovered_, *pingCovers_);
    pingCovers_.reset();
    support_ = Support::answers;
    awaitingFirstAnswer_ = false;
}

bool MinimizeRequests::ignored(const Request& request, Clock::time_point now) const {
    if (request.readBy) return now - *request.readBy >= kGrace;
    // One sent later was honoured, so this one was read before it.
    if (honouredSequence_ > request.sequence) return now - honouredAt_ >= kGrace;
    // Only time can tell where the desktop answers no ping.
    return support_ == Support::silent && now - request.sentAt >= kTimeout;
}

bool MinimizeRequests::settle(const std::function<std::optional<bool>(WindowKey)>& minimized, Clock::time_point now) {
    for (const auto& [window, request] : pending_) {
        if (minimized(window).value_or(false) && request.sequence > honouredSequence_) {
            honouredSequence_ = request.sequence;
            honouredAt_ = now;
        }
    }
    // Read and answered after the ping, which was never answered: this
    // desktop answers no ping (some say they do).
    const bool pingPassed = pingCovers_ && honouredSequence_ > *pingCovers_;
    if (pingCovers_ && (pingPassed || now - pingSentAt_ >= kPingGivenUpAfter)) {
        support_ = Support::silent;
        pingCovers_.reset();
    }
    std::erase_if(pending_, [&](const auto& entry) {
        const auto& [window, request] = entry;
        const std::optional<bool> state = minimized(window);
        if (!state) return true; // gone: no answer either way
        if (*state) {
            honoured_ = true;
            ignored_ = 0;
            refusing_ = false;
            nextRetry_ = kFirstRetry;
            return true;
        }
        if (!ignored(request, now)) return false;
        ++ignored_;
        // Asked again later, less often each time it is ignored.
        pausedUntil_[window] = now + std::chrono::seconds(std::min(60, 1 << std::min(ignored_, 6)));
        return true;
    });
    // Each one is read and left undone, so two are enough to tell.
    constexpr int kIgnoredBeforeGivingUp = 2;
    if (honoured_ || refusing_ || ignored_ < kIgnoredBeforeGivingUp) return false;
    refusing_ = true;
    retryAt_ = now + nextRetry_;
    if (auto* runLoop = platform::installed().runLoop; runLoop != nullptr && wake_.call) {
        wake_.cancel();
        // Just after the back-off's end, so the look it brings finds it over.
        const double wait = std::chrono::duration<double>(nextRetry_).count() + 0.01;
        wake_.timer = runLoop->scheduledTimer(wait, false, [call = wake_.call] { call(); });
    }
    nextRetry_ = std::min(2 * nextRetry_, kLongestRetry);
    return !std::exchange(told_, true);
}

void MinimizeRequests::forget() {
    auto call = std::move(wake_.call);
    *this = MinimizeRequests();
    wake_.call = std::move(call);
}

bool MinimizeRequests::refuses(Clock::time_point now) {
    if (refusing_ && now >= retryAt_) {
        // A trial: the windows are asked once more, and their pauses start afresh.
        refusing_ = false;
        ignored_ = 0;
        pausedUntil_.clear();
    }
    return refusing_;
}

} // namespace quellan::platform
