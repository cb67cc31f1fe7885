// Minimizing: the ICCCM iconify request, sent without waiting, and the
// ping whose answer tells that the window manager has read what came before.
#include "Platform/x11/Connection.hpp"

#include <xcb/xcb_icccm.h>

namespace quellan::x11 {

bool X11Desktop::mayMinimize(platform::DesktopModel::Key key) {
    const auto window = static_cast<WindowId>(key);
    // A window that changed since the view was made is looked at again
    // first: it may have become one not to touch, or be gone.
    SigpipeShield shield;
    pumpEvents();
    const auto client = clients_.find(window);
    if (client == clients_.end() || client->second.stale != 0 || viewStale_) {
        refreshView();
        const auto* found = model_.window(window);
        if (found == nullptr || found->minimized || !found->minimizable || found->kind != WindowKind::standard)
            return false;
    }
    // The window in use is never touched, whatever an older look said:
    // neither the one the window manager names nor the one the keys go to
    // (the model's focus), which it may name only later.
    return root_.activeWindow != window;
}

bool X11Desktop::sendMinimize(platform::DesktopModel::Key key) {
    if (connectionLost()) return false;
    SigpipeShield shield;
    // "The client should send a ClientMessage event to the root ... with
    // window = the client's top-level window, type = WM_CHANGE_STATE,
    // format = 32, data[0] = IconicState", with SubstructureRedirect|SubstructureNotify.
    Connection& x = *connection_;
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = static_cast<WindowId>(key);
    request.type = x.wmChangeState;
    request.data.data32[0] = XCB_ICCCM_WM_STATE_ICONIC;
    ++statistics_.requests;
    x.sendToRoot(request);
    return !x.broken();
}

void X11Desktop::ping(Ping purpose) {
    // "The Window Manager MUST respond by estimating the prospective frame
    // extents and setting the window's _NET_FRAME_EXTENTS property", and it
    // handles what it is sent in order: once the property changes, every
    // iconify request sent before has been read.
    SigpipeShield shield;
    Connection& x = *connection_;
    xcb_client_message_event_t ping{};
    ping.response_type = XCB_CLIENT_MESSAGE;
    ping.format = 32;
    ping.window = x.own;
    ping.type = x.ewmh._NET_REQUEST_FRAME_EXTENTS;
    ++statistics_.requests;
    x.sendToRoot(ping);
    pings_.push_back(purpose);
    if (purpose == Ping::burst) burstPingAt_ = std::chrono::steady_clock::now();
}

} // namespace quellan::x11
