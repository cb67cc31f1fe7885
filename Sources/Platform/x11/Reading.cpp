// Reading the desktop: what changed of the root and the listed clients,
// pipelined, and the view the model is shown, made from it.
#include "Platform/x11/Connection.hpp"

#include <xcb/res.h>

#include <limits>

namespace quellan::x11 {

void X11Desktop::refreshView() {
    if (connectionLost()) return showNothing();
    SigpipeShield shield;
    Connection& x = *connection_;
    pumpEvents();
    const std::uint64_t requestsBefore = statistics_.requests;
    hearAgain();
    // What is known to have changed of the clients already watched is read
    // in the root's round trip; only clients new to the list take another.
    std::vector<PendingClient> early;
    bool listChanged = false;
    const bool rootRead = readRoot([&] { sendClientReads(early); });
    const bool clientsRead = collectClientReads(early);
    if (rootRead || !viewBuilt_) {
        std::vector<WindowId> ordered = clientsFrontToBack(root_.clients, root_.stacking);
        listChanged = ordered != ordered_;
        ordered_ = std::move(ordered);
        viewStale_ = true;
    }
    // The tray and whatever holds Quellan's own windows (its icon, embedded
    // in the tray) are never counted, whatever their type: minimizing them
    // would hide the only way to reach Quellan.
    std::vector<WindowId> seeds = ownWindows_ ? ownWindows_() : std::vector<WindowId>{};
    if (root_.trayOwner != 0) seeds.push_back(root_.trayOwner);
    if (listChanged || seeds != protectedSeeds_) {
        protectedClients_ = clientsHolding(seeds, ordered_);
        protectedSeeds_ = std::move(seeds);
        viewStale_ = listChanged = true;
    }
    if (readClients(listChanged) || clientsRead || viewStale_ || !viewBuilt_) rebuildView();
    model_.settleRequests();
    if (statistics_.requests != requestsBefore) {
        xcb_flush(x.xcb);
        // Replies waited for above may have queued events the descriptor will not announce.
        pumpEvents();
    }
    if (x.broken()) showNothing();
}

bool X11Desktop::readRoot(const std::function<void()>& alongside) {
    if (root_.stale == 0) return false;
    const std::uint32_t stale = std::exchange(root_.stale, 0);
    Connection& x = *connection_;
    const xcb_ewmh_connection_t& e = x.ewmh;
    const auto read = [&](std::uint32_t bit, Atom property, std::uint32_t longs) {
        return (stale & bit) != 0 ? std::optional(x.request(statistics_, x.root, property, longs)) : std::nullopt;
    };
    const auto stacking = read(kStacking, e._NET_CLIENT_LIST_STACKING, kMaxClients);
    const auto clients = read(kClientList, e._NET_CLIENT_LIST, kMaxClients);
    const auto active = read(kActive, e._NET_ACTIVE_WINDOW, 1);
    const auto desktop = read(kCurrentDesktop, e._NET_CURRENT_DESKTOP, 1);
    const auto supported = read(kSupported, e._NET_SUPPORTED, kMaxSupported);
    std::optional<xcb_get_selection_owner_cookie_t> tray;
    if ((stale & kTrayOwner) != 0) {
        tray = xcb_get_selection_owner(x.xcb, x.systemTray);
        ++statistics_.requests;
    }
    alongside();
    ++statistics_.roundTrips;
    const auto windows = [&](const std::optional<xcb_get_property_cookie_t>& cookie,
                             std::optional<std::vector<WindowId>>& into) {
        if (!cookie) return;
        const PropertyReply reply = x.collect(*cookie);
        into = reply.present() ? std::optional(decodeWindowList(reply.raw(), kMaxClients)) : std::nullopt;
    };
    const auto activeBefore = root_.activeWindow;
    const auto desktopBefore = root_.currentDesktop;
    windows(stacking, root_.stacking);
    bool clientsChanged = false;
    if (clients) {
        const auto clientsBefore = std::exchange(root_.clients, std::nullopt);
        windows(clients, root_.clients);
        clientsChanged = root_.clients != clientsBefore;
    }
    if (active) {
        root_.activeWindow = decodeWindow(x.collect(*active).raw());
        model_.setFocused(root_.activeWindow);
    }
    if (desktop) root_.currentDesktop = decodeCardinal(x.collect(*desktop).raw());
    // Unheard, a change is known only now, and dated now: a new window
    // then never passes for an old one, nor a focus for an old focus.
    // (Heard, a change was dated as it came.)
    if (root_.hearing.unheardSince) {
        const double now = instantOf(std::nullopt);
        if (clientsChanged) clientListChangedAt_ = now;
        if (root_.currentDesktop != desktopBefore) desktopChangedAt_ = now;
        if (root_.activeWindow != activeBefore && root_.activeWindow)
            model_.focusLog().gained(*root_.activeWindow, now);
    }
    if (supported) {
        root_.supported = decodeAtomList(x.collect(*supported).raw(), kMaxSupported);
        model_.requests().setPingable(contains(root_.supported, e._NET_REQUEST_FRAME_EXTENTS));
    }
    if (tray) {
        const XcbPointer<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(x.xcb, *tray, nullptr));
        const WindowId owner = reply ? reply->owner : XCB_NONE;
        if (owner != root_.trayOwner && owner != XCB_NONE) {
            // Its end makes another tray's arrival worth a look.
            xcb_change_window_attributes(x.xcb, owner, XCB_CW_EVENT_MASK, &kWatchedEvents);
            ++statistics_.requests;
        }
        root_.trayOwner = owner;
    }
    return true;
}

struct X11Desktop::PendingClient {
    WindowId window;
    std::uint32_t bits;
    std::array<xcb_get_property_cookie_t, kClientPropertyCount> properties;
    std::optional<xcb_res_query_client_ids_cookie_t> clientIds;
};

void X11Desktop::sendClientReads(std::vector<PendingClient>& pending) {
    Connection& x = *connection_;
    for (auto& [window, client] : clients_) {
        if (client.stale == 0) continue;
        PendingClient p{window, std::exchange(client.stale, 0), {}, std::nullopt};
        for (std::size_t i = 0; i < kClientPropertyCount; ++i) {
            if ((p.bits & (1u << i)) == 0) continue;
            const auto& [property, longs] = x.clientProperties[i];
            p.properties[i] = x.request(statistics_, window, property, longs);
        }
        if ((p.bits & kClientPid) != 0 && x.hasClientPids) {
            xcb_res_client_id_spec_t spec{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            p.clientIds = xcb_res_query_client_ids(x.xcb, 1, &spec);
            ++statistics_.requests;
        }
        pending.push_back(p);
    }
}

bool X11Desktop::collectClientReads(const std::vector<PendingClient>& pending) {
    Connection& x = *connection_;
    for (const PendingClient& p : pending) {
        // Every reply is taken, even for a window found gone, so none is left queued.
        ClientState scratch;
        const auto found = clients_.find(p.window);
        ClientState& client = found != clients_.end() ? found->second : scratch;
        bool gone = false;
        for (std::size_t i = 0; i < kClientPropertyCount; ++i) {
            if ((p.bits & (1u << i)) == 0) continue;
            const PropertyReply reply = x.collect(p.properties[i]);
            gone = gone || reply.windowGone;
            const RawProperty raw = reply.raw();
            decodeClientProperty(i, raw, client);
        }
        if (p.clientIds) {
            xcb_generic_error_t* error = nullptr;
            XcbPointer<xcb_res_query_client_ids_reply_t> reply(
                xcb_res_query_client_ids_reply(x.xcb, *p.clientIds, &error));
            if (error != nullptr) {
                gone = true;
                std::free(error);
            } else if (reply) {
                const auto* ids = reinterpret_cast<const std::uint8_t*>(reply.get() + 1);
                client.clientPid = decodeClientPid({ids, static_cast<std::size_t>(reply->length) * 4}, reply->num_ids);
            }
        }
        // Destroyed since the client list was read; its DestroyNotify may still be on its way.
        if (gone && found != clients_.end()) clients_.erase(found);
    }
    return !pending.empty();
}

bool X11Desktop::readClients(bool listChanged) {
    Connection& x = *connection_;
    bool changed = false;
    bool added = false;
    if (listChanged) {
        std::unordered_set<WindowId> listed;
        for (const WindowId window : ordered_) {
            if (!protectedClients_.contains(window)) listed.insert(window);
        }
        changed = std::erase_if(clients_, [&](const auto& entry) { return !listed.contains(entry.first); }) > 0;
        // Watched before the first read: a change after it is then always heard.
        for (const WindowId window : listed) {
            const auto [client, isNew] = clients_.try_emplace(window);
            if (!isNew) continue;
            added = true;
            // Windows of the first view have been there for who knows how long.
            if (viewBuilt_) client->second.changedAt = clientListChangedAt_;
            xcb_change_window_attributes(x.xcb, window, XCB_CW_EVENT_MASK, &kWatchedEvents);
            ++statistics_.requests;
        }
    }
    std::vector<PendingClient> pending;
    sendClientReads(pending);
    if (pending.empty()) return changed;
    // A window manager focuses a new window as it manages it, before the
    // window is watched here, and may tell _NET_ACTIVE_WINDOW much later:
    // where the focus is rides along with the new clients' reads.
    std::optional<xcb_get_input_focus_cookie_t> focus;
    if (added) {
        focus = xcb_get_input_focus(x.xcb);
        ++statistics_.requests;
    }
    ++statistics_.roundTrips;
    changed = collectClientReads(pending);
    if (focus) {
        const XcbPointer<xcb_get_input_focus_reply_t> reply(xcb_get_input_focus_reply(x.xcb, *focus, nullptr));
        if (reply && clients_.contains(reply->focus) && reply->focus != model_.focused()) {
            model_.setFocused(reply->focus);
            model_.focusLog().gained(reply->focus, clientListChangedAt_.value_or(instantOf(std::nullopt)));
        }
    }
    return changed;
}

void X11Desktop::rebuildView() {
    viewStale_ = false;
    viewBuilt_ = true;
    const Connection& x = *connection_;
    const xcb_ewmh_connection_t& e = x.ewmh;
    const bool publishesAllowedActions = contains(root_.supported, e._NET_WM_ALLOWED_ACTIONS);
    std::vector<platform::DesktopModel::Window> windows;
    windows.reserve(ordered_.size());
    for (std::size_t place = 0; place < ordered_.size(); ++place) {
        const auto found = clients_.find(ordered_[place]);
        if (found == clients_.end()) continue; // protected, or gone
        const ClientState& client = found->second;
        if (client.host && !client.host->empty() && !isLocalMachine(*client.host, x.hostname)) continue;
        std::optional<std::int32_t> processIdentifier = client.clientPid;
        if (client.netPid && *client.netPid > 0 &&
            *client.netPid <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
            processIdentifier = static_cast<std::int32_t>(*client.netPid);
        }
        if (!processIdentifier) continue;
        if (client.wmState == WmState::withdrawn) continue; // being unmanaged

        platform::DesktopModel::Window& window = windows.emplace_back();
        window.key = found->first;
        window.application = *processIdentifier;
        window.kind = classifyWindow(client.types, client.transientFor, found->first,
                                     contains(client.states, e._NET_WM_STATE_SKIP_TASKBAR),
                                     contains(client.states, e._NET_WM_STATE_MODAL), x.typeAtoms);
        window.minimized = client.wmState == WmState::iconic || contains(client.states, e._NET_WM_STATE_HIDDEN);
        window.minimizable = publishesAllowedActions ? contains(client.actions, e._NET_WM_ACTION_MINIMIZE)
                                                     : window.kind == WindowKind::standard;
        window.shown = onCurrentDesktop(client.desktop, root_.currentDesktop);
        if (root_.stacking) window.stackingPosition = ordered_.size() - 1 - place; // `ordered_` runs front to back
        window.title = client.netName ? client.netName : client.name;
        window.applicationName = client.className;
        window.appearedAt = client.changedAt;
        if (desktopChangedAt_ && (!window.appearedAt || *window.appearedAt < *desktopChangedAt_))
            window.appearedAt = desktopChangedAt_;
    }
    model_.show(std::move(windows));
}

void X11Desktop::showNothing() {
    viewBuilt_ = true;
    model_.show({});
}

void X11Desktop::decodeClientProperty(std::size_t property, const RawProperty& raw, ClientState& client) const {
    const Connection& x = *connection_;
    switch (static_cast<ClientProperty>(property)) {
    case ClientProperty::pid:
        client.netPid = decodeCardinal(raw);
        break;
    case ClientProperty::machine:
        client.host = decodeText(raw, x.textTypes, kMaxNameBytes);
        break;
    case ClientProperty::className:
        client.className = decodeClassName(raw, x.textTypes);
        break;
    case ClientProperty::types:
        client.types = decodeAtomList(raw, kMaxAtoms);
        break;
    case ClientProperty::transientFor:
        client.transientFor = decodeWindow(raw);
        break;
    case ClientProperty::states:
        client.states = decodeAtomList(raw, kMaxAtoms);
        break;
    case ClientProperty::wmState:
        client.wmState = decodeWmState(raw, x.wmState);
        break;
    case ClientProperty::allowedActions:
        client.actions = decodeAtomList(raw, kMaxAtoms);
        break;
    case ClientProperty::desktop:
        client.desktop = decodeCardinal(raw);
        break;
    case ClientProperty::netName:
        client.netName = decodeText(raw, x.textTypes);
        break;
    case ClientProperty::name:
        client.name = decodeText(raw, x.textTypes);
        break;
    }
}

void X11Desktop::resynchronize() {
    root_.stale = ~0u;
    for (auto& [window, client] : clients_)
        client.stale = ~0u;
    protectedSeeds_.clear();
    viewStale_ = true;
}

} // namespace quellan::x11
