#include "Platform/x11/Connection.hpp"
#include "Platform/x11/ConnectionProblem.hpp"

#include <xcb/res.h>

#include <unistd.h>

namespace quellan::x11 {
namespace {

std::string localHostname() {
    std::array<char, 256> buffer{};
    if (gethostname(buffer.data(), buffer.size() - 1) != 0) return {};
    return std::string(buffer.data());
}

} // namespace

SigpipeShield::SigpipeShield() {
    sigemptyset(&pipeOnly_);
    sigaddset(&pipeOnly_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
}

SigpipeShield::~SigpipeShield() {
    if (!wasPending_) {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1) {
            const timespec zero{};
            sigtimedwait(&pipeOnly_, nullptr, &zero);
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

Connection::~Connection() {
    if (ewmhReady) xcb_ewmh_connection_wipe(&ewmh);
    if (xcb != nullptr) xcb_disconnect(xcb);
}

xcb_get_property_cookie_t Connection::request(Statistics& statistics, xcb_window_t window, Atom property,
                                              std::uint32_t longs) {
    ++statistics.requests;
    return xcb_get_property(xcb, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, longs);
}

PropertyReply Connection::collect(xcb_get_property_cookie_t cookie) {
    PropertyReply answer;
    xcb_generic_error_t* error = nullptr;
    answer.reply.reset(xcb_get_property_reply(xcb, cookie, &error));
    if (error != nullptr) {
        answer.windowGone = error->error_code == XCB_WINDOW;
        std::free(error);
        answer.reply.reset();
    }
    return answer;
}

void Connection::sendToRoot(const xcb_client_message_event_t& message) {
    xcb_send_event(xcb, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(xcb);
}

ConnectResult X11Desktop::connect(const std::optional<std::string>& displayName) {
    const char* environmentName = std::getenv("DISPLAY");
    const std::string name = displayName ? *displayName : (environmentName ? environmentName : "");
    const auto failure = [&](std::string why) {
        return ConnectResult{nullptr, "cannot open display \"" + name + "\": " + std::move(why)};
    };
    if (name.empty()) return failure("no display name given and DISPLAY is not set");

    auto connection = std::make_unique<Connection>();
    int screenNumber = 0;
    SigpipeShield shield;
    connection->xcb = xcb_connect(name.c_str(), &screenNumber);
    if (const int error = xcb_connection_has_error(connection->xcb); error != 0) {
        return failure(connectionProblem(error));
    }
    xcb_connection_t* xcb = connection->xcb;

    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(xcb));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem == 0) return failure("the display has no such screen");
    connection->root = screens.data->root;

    // Every atom and the extension version in one pipelined round trip.
    xcb_intern_atom_cookie_t* ewmhCookies = xcb_ewmh_init_atoms(xcb, &connection->ewmh);
    const std::string trayAtom = "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber);
    const std::array<std::string_view, 5> ownAtoms{"WM_STATE", "WM_CHANGE_STATE", "COMPOUND_TEXT", trayAtom, "MANAGER"};
    std::array<xcb_intern_atom_cookie_t, ownAtoms.size()> atomCookies{};
    for (std::size_t i = 0; i < ownAtoms.size(); ++i) {
        atomCookies[i] = xcb_intern_atom(xcb, 0, static_cast<std::uint16_t>(ownAtoms[i].size()), ownAtoms[i].data());
    }
    const xcb_query_extension_reply_t* resource = xcb_get_extension_data(xcb, &xcb_res_id);
    std::optional<xcb_res_query_version_cookie_t> versionCookie;
    if (resource != nullptr && resource->present) versionCookie = xcb_res_query_version(xcb, 1, 2);

    connection->ewmhReady = xcb_ewmh_init_atoms_replies(&connection->ewmh, ewmhCookies, nullptr) != 0;
    std::array<Atom, ownAtoms.size()> atoms{};
    for (std::size_t i = 0; i < ownAtoms.size(); ++i) {
        XcbPointer<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(xcb, atomCookies[i], nullptr));
        atoms[i] = reply ? reply->atom : XCB_NONE;
    }
    if (versionCookie) {
        XcbPointer<xcb_res_query_version_reply_t> reply(xcb_res_query_version_reply(xcb, *versionCookie, nullptr));
        // QueryClientIds came with version 1.2.
        connection->hasClientPids =
            reply && (reply->server_major > 1 || (reply->server_major == 1 && reply->server_minor >= 2));
    }
    if (connection->broken()) return failure("the connection broke while setting up");
    if (!connection->ewmhReady) return failure("the window manager atoms could not be interned");

    connection->own = xcb_generate_id(xcb);
    const std::uint32_t ownEvents = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(xcb, XCB_COPY_FROM_PARENT, connection->own, connection->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &ownEvents);
    // An empty append changes nothing but is told with the server's time: the first reading of its clock.
    xcb_change_property(xcb, XCB_PROP_MODE_APPEND, connection->own, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
    connection->wmState = atoms[0];
    connection->wmChangeState = atoms[1];
    connection->systemTray = atoms[3];
    connection->manager = atoms[4];
    xcb_change_window_attributes(xcb, connection->root, XCB_CW_EVENT_MASK, &kRootEvents);
    xcb_flush(xcb);
    const xcb_ewmh_connection_t& e = connection->ewmh;
    connection->textTypes = TextTypes{.utf8String = e.UTF8_STRING, .compoundText = atoms[2]};
    connection->typeAtoms = WindowTypeAtoms{.normal = e._NET_WM_WINDOW_TYPE_NORMAL,
                                            .dialog = e._NET_WM_WINDOW_TYPE_DIALOG,
                                            .utility = e._NET_WM_WINDOW_TYPE_UTILITY,
                                            .toolbar = e._NET_WM_WINDOW_TYPE_TOOLBAR,
                                            .menu = e._NET_WM_WINDOW_TYPE_MENU,
                                            .splash = e._NET_WM_WINDOW_TYPE_SPLASH,
                                            .dock = e._NET_WM_WINDOW_TYPE_DOCK,
                                            .desktop = e._NET_WM_WINDOW_TYPE_DESKTOP,
                                            .dropdownMenu = e._NET_WM_WINDOW_TYPE_DROPDOWN_MENU,
                                            .popupMenu = e._NET_WM_WINDOW_TYPE_POPUP_MENU,
                                            .tooltip = e._NET_WM_WINDOW_TYPE_TOOLTIP,
                                            .notification = e._NET_WM_WINDOW_TYPE_NOTIFICATION,
                                            .combo = e._NET_WM_WINDOW_TYPE_COMBO,
                                            .dnd = e._NET_WM_WINDOW_TYPE_DND};
    const auto read = [&](ClientProperty property, Atom atom, std::uint32_t longs) {
        connection->clientProperties[static_cast<std::size_t>(property)] = {atom, longs};
    };
    read(ClientProperty::pid, e._NET_WM_PID, 1);
    read(ClientProperty::machine, XCB_ATOM_WM_CLIENT_MACHINE, kMaxMachineLongs);
    read(ClientProperty::className, XCB_ATOM_WM_CLASS, kMaxClassLongs);
    read(ClientProperty::types, e._NET_WM_WINDOW_TYPE, kMaxAtoms);
    read(ClientProperty::transientFor, XCB_ATOM_WM_TRANSIENT_FOR, 1);
    read(ClientProperty::states, e._NET_WM_STATE, kMaxAtoms);
    read(ClientProperty::wmState, connection->wmState, 2);
    read(ClientProperty::allowedActions, e._NET_WM_ALLOWED_ACTIONS, kMaxAtoms);
    read(ClientProperty::desktop, e._NET_WM_DESKTOP, 1);
    read(ClientProperty::netName, e._NET_WM_NAME, kMaxTextLongs);
    read(ClientProperty::name, XCB_ATOM_WM_NAME, kMaxTextLongs);
    connection->titleBits = bitOf(ClientProperty::netName) | bitOf(ClientProperty::name);
    connection->hostname = localHostname();
    return ConnectResult{std::unique_ptr<X11Desktop>(new X11Desktop(std::move(connection), name)), {}};
}

X11Desktop::X11Desktop(std::unique_ptr<Connection> connection, std::string displayName)
    : connection_(std::move(connection)), displayName_(std::move(displayName)),
      model_(*this, "This window manager does not minimize windows when asked, so Quellan cannot keep the "
                    "number of open windows under the limit here. It will ask again now and then, and at once "
                    "if another window manager takes over.") {}

X11Desktop::~X11Desktop() {
    if (holdTimer_) holdTimer_->invalidate();
    SigpipeShield shield;
    connection_.reset();
}

WindowId X11Desktop::pingWindow() const { return connection_ ? connection_->own : 0; }

bool X11Desktop::connectionLost() const { return !connection_ || connection_->broken(); }

int X11Desktop::eventDescriptor() const { return connectionLost() ? -1 : xcb_get_file_descriptor(connection_->xcb); }

} // namespace quellan::x11
