// Minimize requests sent without waiting for the desktop's answer, and what
// the answers teach. A request counts as ignored only on evidence that the
// desktop has read it (an X window manager and a Wayland compositor handle
// what they are sent in order): a ping sent after it came back, or a
// request sent after it was honoured, and the window is still not
// minimized a moment later. A desktop that is merely behind therefore never
// counts as ignoring anything, however long it takes. Where the desktop
// answers no ping, a request unanswered for `kTimeout` counts as ignored. A
// desktop that ignored several and never honoured one is learned to refuse,
// and asked again after a growing back-off.
#pragma once

#include "Platform/RunLoop.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>

namespace quellan::platform {

class MinimizeRequests {
public:
    using Clock = std::chrono::steady_clock;
    using WindowKey = std::uint64_t;
    /// Where the desktop answers no ping, how long a request may go unanswered before it counts as ignored.
    static constexpr std::chrono::milliseconds kTimeout{2000};
    /// How long after the desktop has read a request the window may take to
    /// show as minimized (some animate first).
    static constexpr std::chrono::milliseconds kGrace{1000};
    /// A ping unanswered this long is taken as one the desktop does not answer.
    static constexpr std::chrono::seconds kPingGivenUpAfter{30};
    /// The first and longest pause before a refusing desktop is asked again.
    static constexpr std::chrono::seconds kFirstRetry{60};
    static constexpr std::chrono::seconds kLongestRetry{1800};

    /// False while `window` is paused after an ignored request, and while the desktop refuses.
    bool mayAsk(WindowKey window, Clock::time_point now);
    /// Sent and not yet answered: not sent again, and the window is on its way meanwhile.
    bool isPending(WindowKey window) const { return pending_.contains(window); }
    bool anyPending() const { return !pending_.empty(); }
    void sent(WindowKey window, Clock::time_point now);

    /// Whether the desktop says it answers pings; whether it does is learned.
    void setPingable(bool pingable) { support_ = pingable ? Support::unknown : Support::silent; }
    /// Pings are sent, and not yet known to go unanswered.
    bool pingable() const { return support_ != Support::silent; }
    /// True when a request is not yet covered by a ping and none is in flight.
    bool wantsPing() const;
    /// A ping went out during the caller's look number `look`: once it comes
    /// back, every request sent before it has been read.
    void pinged(Clock::time_point now, std::uint64_t look = 0);
    /// The ping in flight is the first to a desktop just met, which may be
    /// busy: nothing is asked until it is answered, for a moment at most.
    void awaitFirstAnswer() { awaitingFirstAnswer_ = true; }
    /// Whether the desktop is behind, so that nothing more is to be asked in
    /// look number `look`: a desktop known to answer pings has not read
    /// what an earlier look asked, or a desktop just met has not answered yet.
    bool behind(Clock::time_point now, std::uint64_t look) const;
    /// The ping in flight came back.
    void ponged(Clock::time_point now);

    /// Settles the pending requests against what the desktop shows now:
    /// `minimized` gives none for a window that is gone. True once, when
    /// the desktop is first learned to refuse.
    bool settle(const std::function<std::optional<bool>(WindowKey)>& minimized, Clock::time_point now);
    /// Whether the desktop is taken to refuse; false again once its back-off ends.
    bool refuses(Clock::time_point now);
    /// Called on the main run loop when a refusing desktop's back-off ends:
    /// no window counts meanwhile, so nothing else would look again.
    void setWake(std::function<void()> wake) { wake_.call = std::move(wake); }
    /// Another desktop took over: everything learned starts afresh.
    void forget();

private:
    struct Request {
        Clock::time_point sentAt;
        std::uint64_t sequence = 0;
        /// When a ping sent after it came back.
        std::optional<Clock::time_point> readBy;
    };
    bool ignored(const Request& request, Clock::time_point now) const;

    std::unordered_map<WindowKey, Request> pending_;
    std::unordered_map<WindowKey, Clock::time_point> pausedUntil_;
    std::uint64_t sequence_ = 0;
    enum class Support { unknown, answers, silent };
    Support support_ = Support::silent;
    /// The latest request seen honoured, and when.
    std::uint64_t honouredSequence_ = 0;
    Clock::time_point honouredAt_{};
    /// The requests the ping in flight covers, and when it went.
    std::optional<std::uint64_t> pingCovers_;
    Clock::time_point pingSentAt_{};
    std::uint64_t pingLook_ = 0;
    bool awaitingFirstAnswer_ = false;
    std::uint64_t lastCovered_ = 0;
    int ignored_ = 0;
    bool honoured_ = false;
    bool refusing_ = false;
    bool told_ = false;
    Clock::time_point retryAt_{};
    std::chrono::seconds nextRetry_ = kFirstRetry;
    /// The wake call and its timer, which dies with it.
    struct Wake {
        std::function<void()> call;
        std::shared_ptr<Timer> timer;
        Wake() = default;
        Wake(Wake&& other) noexcept = default;
        Wake& operator=(Wake&& other) noexcept {
            cancel();
            call = std::move(other.call);
            timer = std::move(other.timer);
            return *this;
        }
        ~Wake() { cancel(); }
        void cancel() {
            if (timer) timer->invalidate();
            timer.reset();
        }
    };
    Wake wake_;
};

} // namespace quellan::platform
