// The event pump: what the display sends, read as it comes; changes held
// until the window manager's burst is over, then told; floods unheard.
#include "Platform/x11/Connection.hpp"

namespace quellan::x11 {

std::chrono::milliseconds X11Desktop::processEvents() {
    using namespace std::chrono_literals;
    if (connectionLost()) return 0ms;
    SigpipeShield shield;
    const bool changed = pumpEvents();
    // The answer that ends a burst is awaited.
    if (heldSince_) return 0ms;
    // The look that follows reads whatever comes meanwhile.
    if (toldSinceLook_) return kReadingRest;
    if (changed) {
        lastIdleRead_.reset();
        return 0ms;
    }
    // Things that count for nothing, read right after one another or right
    // after a rest they brought: a flood. A terminal retitled ten times a
    // second is none, and a new window is then read as soon as it comes.
    constexpr auto kFloodGap = 20ms;
    const auto now = std::chrono::steady_clock::now();
    const auto gap = lastIdleRead_ ? now - *lastIdleRead_ : std::chrono::steady_clock::duration::max();
    restedForFlood_ = gap < kFloodGap || (restedForFlood_ && gap < kReadingRest + kFloodGap);
    lastIdleRead_ = now;
    return restedForFlood_ ? kReadingRest : 0ms;
}

bool X11Desktop::pumpEvents() {
    Connection& x = *connection_;
    const xcb_ewmh_connection_t& e = x.ewmh;
    // Whether any of it bears on what is counted; other properties' changes
    // (titles, user times, icons, a terminal's cursor) do not.
    bool changed = false;
    bool burstOver = false;
    // Restored, or moved to another desktop: what makes a listed window one to count again.
    const std::uint32_t shownBits = bitOf(ClientProperty::wmState) | bitOf(ClientProperty::desktop);
    // Until nothing is queued after the last reply waited for: what xcb read
    // meanwhile is not announced by the descriptor again.
    for (;;) {
        std::optional<double> activeChangedAt;
        // Focus events carry no time: each takes that of the next event
        // that does, or failing one the reading's.
        std::vector<WindowId> unstamped;
        std::vector<std::pair<WindowId, double>> focused;
        const auto stamp = [&](xcb_timestamp_t time) {
            const double at = instantOf(time);
            for (const WindowId window : unstamped)
                focused.emplace_back(window, at);
            unstamped.clear();
            return at;
        };
        // Every queued event, errors of earlier unchecked requests included.
        while (xcb_generic_event_t* event = xcb_poll_for_event(x.xcb)) {
            switch (event->response_type & 0x7F) {
            case XCB_PROPERTY_NOTIFY: {
                const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
                const Atom property = notify->atom;
                const double at = stamp(notify->time);
                if (notify->window == x.root) {
                    const std::uint32_t staleBefore = root_.stale;
                    if (property == e._NET_ACTIVE_WINDOW) activeChangedAt = at;
                    if (property == e._NET_CLIENT_LIST_STACKING) root_.stale |= kStacking;
                    if (property == e._NET_CLIENT_LIST) {
                        root_.stale |= kClientList;
                        clientListChangedAt_ = at;
                    }
                    if (property == e._NET_CURRENT_DESKTOP) {
                        root_.stale |= kCurrentDesktop;
                        desktopChangedAt_ = at;
                    }
                    if (property == e._NET_SUPPORTED) root_.stale |= kSupported;
                    if (property == e._NET_SUPPORTED || property == e._NET_SUPPORTING_WM_CHECK) {
                        trusted_.reset();
                        changed = true;
                    }
                    changed = changed || root_.stale != staleBefore;
                    if (root_.hearing.floods(notify->time)) {
                        unhear(x.root, root_.hearing, kRootEvents & ~XCB_EVENT_MASK_PROPERTY_CHANGE);
                        if (!std::exchange(rootFloodTold_, true) && rootFloodHandler_) rootFloodHandler_(true);
                        changed = true;
                    }
                } else if (notify->window == x.own) {
                    // An answer that comes unasked is none.
                    if (property == e._NET_FRAME_EXTENTS && !pings_.empty()) {
                        const Ping purpose = pings_.front();
                        pings_.pop_front();
                        if (purpose == Ping::burst) {
                            // Sent after the held change came: the rest of that burst is read.
                            burstOver = burstOver || (heldSince_ && burstPingAt_ && *burstPingAt_ >= *heldSince_);
                            burstPingAt_.reset();
                        } else {
                            model_.requestsRead();
                            // Requests it held back may be sent now.
                            changed = true;
                        }
                    }
                } else if (const auto client = clients_.find(notify->window); client != clients_.end()) {
                    ClientState& state = client->second;
                    const std::uint32_t bit = x.clientBit(property);
                    state.stale |= bit;
                    if ((bit & shownBits) != 0) state.changedAt = at;
                    changed = changed || (bit & ~x.titleBits) != 0;
                    // The caller is told, so that it keeps looking while this goes unheard.
                    if (state.hearing.floods(notify->time)) {
                        unhear(client->first, state.hearing, kWatchedEvents & ~XCB_EVENT_MASK_PROPERTY_CHANGE);
                        changed = true;
                    }
                }
                break;
            }
            case XCB_FOCUS_IN: {
                // The client itself or a window inside it took the focus;
                // not a grab's coming and going, nor a move within it.
                const auto* focus = reinterpret_cast<const xcb_focus_in_event_t*>(event);
                const bool grab = focus->mode == XCB_NOTIFY_MODE_GRAB || focus->mode == XCB_NOTIFY_MODE_UNGRAB;
                if (!grab && focus->detail != XCB_NOTIFY_DETAIL_INFERIOR &&
                    focus->detail <= XCB_NOTIFY_DETAIL_NONLINEAR_VIRTUAL)
                    unstamped.push_back(focus->event);
                break;
            }
            case XCB_DESTROY_NOTIFY: {
                const WindowId window = reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window;
                const bool dropped = clients_.erase(window) > 0;
                changed = changed || dropped || window == confirmedCheckWindow_ || window == root_.trayOwner;
                if (window == confirmedCheckWindow_) trusted_.reset();
                if (window == root_.trayOwner) root_.stale |= kTrayOwner;
                if (dropped) viewStale_ = true;
                break;
            }
            case XCB_CLIENT_MESSAGE: {
                const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
                if (message->window == x.root && message->type == x.manager) {
                    root_.stale |= kTrayOwner;
                    changed = true;
                }
                break;
            }
            default:
                break;
            }
            std::free(event);
        }
        if (!unstamped.empty()) {
            const double now = instantOf(std::nullopt);
            for (const WindowId window : unstamped)
                focused.emplace_back(window, now);
        }
        changed = changed || !focused.empty();
        for (const auto& [window, at] : focused) {
            model_.focusLog().gained(window, at);
            model_.setFocused(window);
        }
        if (!activeChangedAt) break;
        // Read at once, so that a focus held shorter than a scan is still
        // told, with where the keys go now in the same round trip.
        const auto cookie = x.request(statistics_, x.root, e._NET_ACTIVE_WINDOW, 1);
        const auto inputCookie = xcb_get_input_focus(x.xcb);
        ++statistics_.requests;
        ++statistics_.roundTrips;
        const std::optional<WindowId> active = decodeWindow(x.collect(cookie).raw());
        const XcbPointer<xcb_get_input_focus_reply_t> input(xcb_get_input_focus_reply(x.xcb, inputCookie, nullptr));
        if (active != root_.activeWindow) {
            changed = true;
            if (active) {
                model_.focusLog().gained(*active, *activeChangedAt);
            } else {
                model_.focusLog().lost(*activeChangedAt);
            }
        }
        root_.activeWindow = active;
        // A window manager that is behind publishes, one after another, the
        // windows it focused long ago: the client the keys go to now wins.
        std::optional<WindowId> holder = active;
        if (input && input->focus != active && clients_.contains(input->focus)) {
            holder = input->focus;
            model_.focusLog().gained(input->focus, *activeChangedAt);
        }
        if (holder != model_.focused()) changed = true;
        model_.setFocused(holder);
    }
    // A caller already told will look anyway, and read this then.
    if (burstOver) {
        tellChange();
    } else if (changed && !toldSinceLook_) {
        holdChange();
    }
    return changed;
}

void X11Desktop::holdChange() {
    if (!model_.observed()) return;
    auto* runLoop = platform::installed().runLoop;
    // Nothing to wait with.
    if (runLoop == nullptr) return tellChange();
    const auto now = std::chrono::steady_clock::now();
    if (!heldSince_) {
        heldSince_ = now;
        // One in flight already, unanswered, tells nothing of this burst,
        // and a window manager that let it be is not asked again meanwhile.
        if (model_.requests().pingable() && !burstPingAt_) ping(Ping::burst);
    }
    const bool awaitingAnswer = burstPingAt_ && *burstPingAt_ >= *heldSince_;
    // The answer or the longest hold ends it, however much more comes.
    if (awaitingAnswer && holdTimer_) return;
    auto tellAt = *heldSince_ + kLongestHold;
    if (!awaitingAnswer) tellAt = std::min(tellAt, now + kQuietAfterChange);
    if (holdTimer_) holdTimer_->invalidate();
    holdTimer_ =
        runLoop->scheduledTimer(std::chrono::duration<double>(tellAt - now).count(), false, [this] { tellChange(); });
    if (holdTimer_) runLoop->addTimer(holdTimer_, platform::RunLoopMode::commonModes);
}

void X11Desktop::tellChange() {
    if (const auto timer = std::exchange(holdTimer_, nullptr)) timer->invalidate();
    heldSince_.reset();
    if (!model_.observed()) return;
    toldSinceLook_ = true;
    model_.tellChange();
}

double X11Desktop::instantOf(std::optional<std::uint32_t> serverTime) {
    const double now = platform::DesktopModel::wallNow();
    if (!serverTime) return now;
    // The server's clock runs in milliseconds, wrapping every 49 days; an
    // event is never newer than its server's present, so the freshest one
    // read tells best how that clock stands against ours.
    const auto steady = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
    if (!serverTimeOffset_) serverTimeOffset_ = *serverTime - steady;
    auto age = static_cast<std::int32_t>(steady + *serverTimeOffset_ - *serverTime);
    if (age < 0) {
        serverTimeOffset_ = *serverTime - steady;
        age = 0;
    }
    return now - age / 1000.0;
}

void X11Desktop::unhear(WindowId window, Hearing& hearing, std::uint32_t keep) {
    xcb_change_window_attributes(connection_->xcb, window, XCB_CW_EVENT_MASK, &keep);
    xcb_flush(connection_->xcb);
    ++statistics_.requests;
    hearing.unheardSince = std::chrono::steady_clock::now();
}

void X11Desktop::hearAgain() {
    const auto now = std::chrono::steady_clock::now();
    // Read whole at every look; heard again after a while, to learn whether
    // the flood is over, and read after that, so that nothing falls between.
    const auto visit = [&](WindowId window, Hearing& hearing, std::uint32_t& stale, std::uint32_t reads,
                           std::uint32_t whole, std::uint32_t events) {
        if (!hearing.unheardSince) return;
        stale |= reads;
        if (now - *hearing.unheardSince < kUnheardFor) return;
        stale |= whole;
        xcb_change_window_attributes(connection_->xcb, window, XCB_CW_EVENT_MASK, &events);
        ++statistics_.requests;
        hearing = Hearing{};
    };
    const bool rootUnheard = root_.hearing.unheardSince.has_value();
    visit(connection_->root, root_.hearing, root_.stale, kRootReads, kRootReads, kRootEvents);
    if (rootUnheard && !root_.hearing.unheardSince) rootHeardAgainAt_ = now;
    // The others hear the root again only once it has stayed calm here for
    // longer than a flood takes to show: a flood still on would wake them for each change.
    if (rootFloodTold_ && !root_.hearing.unheardSince && now - rootHeardAgainAt_ >= 2 * kFloodSpan) {
        rootFloodTold_ = false;
        if (rootFloodHandler_) rootFloodHandler_(false);
    }
    // What counts is read at every look; the title, shown alone, once a
    // second, as the durations beside it change: a title flooding changes
    // the menu no more often than they do.
    constexpr auto kTitleEvery = std::chrono::seconds(1);
    for (auto& [window, client] : clients_) {
        if (!client.hearing.unheardSince) continue;
        const bool titleDue = now - client.hearing.titleReadAt >= kTitleEvery;
        if (titleDue) client.hearing.titleReadAt = now;
        const std::uint32_t reads = titleDue ? kClientPropertyBits : kClientPropertyBits & ~connection_->titleBits;
        visit(window, client.hearing, client.stale, reads, kClientPropertyBits, kWatchedEvents);
    }
}

bool X11Desktop::settled() {
    return trusted_.has_value() && root_.stale == 0 && !root_.hearing.unheardSince && !rootFloodTold_ && !viewStale_ &&
           std::ranges::none_of(clients_, [&](const auto& client) {
               return client.second.hearing.unheardSince || (client.second.stale & ~connection_->titleBits) != 0;
           });
}

} // namespace quellan::x11
