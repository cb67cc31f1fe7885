// Trust: whether a live EWMH window manager publishes what Quellan reads,
// answered from what events said until they say otherwise.
#include "Platform/x11/Connection.hpp"

namespace quellan::x11 {

bool X11Desktop::checkTrust() {
    if (connectionLost()) return false;
    SigpipeShield shield;
    pumpEvents();
    // Every look starts here: what changes from now on is news again.
    toldSinceLook_ = false;
    if (trusted_) return *trusted_ && !connection_->broken();
    Connection& x = *connection_;
    const xcb_ewmh_connection_t& e = x.ewmh;

    // "The child window MUST also have the _NET_SUPPORTING_WM_CHECK property
    // set to the ID of the child window", which tells a live window manager
    // from a stale root property.
    const auto checkCookie = x.request(statistics_, x.root, e._NET_SUPPORTING_WM_CHECK, 1);
    const auto supportedCookie = x.request(statistics_, x.root, e._NET_SUPPORTED, kMaxSupported);
    ++statistics_.roundTrips;
    const std::optional<WindowId> checkWindow = decodeWindow(x.collect(checkCookie).raw());
    const std::vector<Atom> hints = decodeAtomList(x.collect(supportedCookie).raw(), kMaxSupported);
    bool confirmed = false;
    if (checkWindow) {
        // Watched from before the read, so its end is heard whenever it comes.
        xcb_change_window_attributes(x.xcb, *checkWindow, XCB_CW_EVENT_MASK, &kWatchedEvents);
        const auto cookie = x.request(statistics_, *checkWindow, e._NET_SUPPORTING_WM_CHECK, 1);
        ++statistics_.requests;
        ++statistics_.roundTrips;
        confirmed = decodeWindow(x.collect(cookie).raw()) == checkWindow;
    }
    confirmedCheckWindow_ = confirmed ? *checkWindow : 0;
    // Another window manager may minimize where the last one would not,
    // and what was heard of the desktop may have been lost in the change.
    if (confirmed && *checkWindow != windowManagerCheckWindow_) {
        if (windowManagerCheckWindow_ != 0) model_.requests().forget();
        pings_.clear();
        burstPingAt_.reset();
        windowManagerCheckWindow_ = *checkWindow;
        resynchronize();
        // A window manager met while busy (Quellan started among windows
        // still being managed) is asked nothing until it has caught up.
        model_.requests().setPingable(contains(hints, e._NET_REQUEST_FRAME_EXTENTS));
        if (model_.requests().pingable()) {
            model_.pingRequests();
            model_.requests().awaitFirstAnswer();
        }
    }
    const bool trusted =
        confirmed && contains(hints, e._NET_CLIENT_LIST) && contains(hints, e._NET_ACTIVE_WINDOW) && !x.broken();
    // Kept until an event says otherwise: a change of the root's properties,
    // or the end of the check window. A check window not yet confirmed may
    // be one still being set up, whose property no event would announce.
    if (confirmed || !checkWindow) trusted_ = trusted;
    return trusted;
}

} // namespace quellan::x11
