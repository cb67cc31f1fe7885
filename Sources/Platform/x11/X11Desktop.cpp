#include "Platform/x11/X11Desktop.hpp"

#include <xcb/res.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

extern char** environ;

namespace quellan::x11 {
namespace {

// Request sizes, in 32-bit units: enough for any sane value, bounded for insane ones.
constexpr std::uint32_t kMaxClients = 1u << 16;
constexpr std::uint32_t kMaxSupported = 1024;
constexpr std::uint32_t kMaxAtoms = 64;
constexpr std::uint32_t kMaxTextLongs = kMaxTextBytes / 4;
constexpr std::uint32_t kMaxClassLongs = 2 * kMaxNameBytes / 4;
constexpr std::uint32_t kMaxMachineLongs = 64;

// The root properties the view is made from, as bits of RootState::stale.
enum RootProperty : std::uint32_t {
    kStacking = 1u << 0,
    kClientList = 1u << 1,
    kActive = 1u << 2,
    kCurrentDesktop = 1u << 3,
    kSupported = 1u << 4,
    kTrayOwner = 1u << 5,
};

// Each client's properties, as bits of ClientState::stale: the first
// kClientPropertyCount are GetProperty reads in Connection::clientProperties'
// order; the last is the X-Resource client pid, read once.
constexpr std::size_t kClientPropertyCount = 11;
constexpr std::uint32_t kClientPid = 1u << kClientPropertyCount;

// What this connection hears of the windows it watches: clients, the window
// manager's check window and the tray. One mask for all, since selecting
// replaces the last selection and one window may be more than one of these.
constexpr std::uint32_t kWatchedEvents =
    XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_FOCUS_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
// The root's properties are followed as they change, and a new tray
// announces itself to the root's structure listeners.
constexpr std::uint32_t kRootEvents = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
// What the root's properties are read for at every look while they go unheard.
constexpr std::uint32_t kRootReads = kStacking | kClientList | kActive | kCurrentDesktop | kSupported;

struct FreeDeleter {
    void operator()(void* pointer) const noexcept { std::free(pointer); }
};

template <typename T> using XcbPointer = std::unique_ptr<T, FreeDeleter>;

/// One GetProperty answer: the reply, or whether the window was gone.
struct PropertyReply {
    XcbPointer<xcb_get_property_reply_t> reply;
    bool windowGone = false;

    bool present() const { return reply != nullptr && reply->type != XCB_NONE; }

    RawProperty raw() const {
        if (!present()) return {};
        // Trust the reply's own length over its item count.
        const auto available = static_cast<std::size_t>(reply->length) * 4;
        const auto claimed = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
        const auto* data = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
        return RawProperty{reply->type, reply->format, {data, std::min(available, claimed)}};
    }
};

bool contains(const std::vector<Atom>& atoms, Atom atom) {
    return atom != 0 && std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
}

/// Keeps a write to a vanished server from killing the process with
/// SIGPIPE: blocks it on this thread and discards one raised meanwhile.
class SigpipeShield {
public:
    SigpipeShield() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
    }
    ~SigpipeShield() {
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
    SigpipeShield(const SigpipeShield&) = delete;
    SigpipeShield& operator=(const SigpipeShield&) = delete;

private:
    sigset_t pipeOnly_{};
    sigset_t previous_{};
    bool wasPending_ = false;
};

std::string localHostname() {
    std::array<char, 256> buffer{};
    if (gethostname(buffer.data(), buffer.size() - 1) != 0) return {};
    return std::string(buffer.data());
}

std::optional<std::string> processName(std::int32_t processIdentifier) {
    const std::string path = "/proc/" + std::to_string(processIdentifier) + "/comm";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::array<std::uint8_t, 64> buffer{};
    const ssize_t length = read(fd, buffer.data(), buffer.size());
    close(fd);
    if (length <= 0) return std::nullopt;
    return decodeProcessName({buffer.data(), static_cast<std::size_t>(length)});
}

std::string_view subroleFor(WindowKind kind) {
    switch (kind) {
    case WindowKind::standard:
        return ax::kStandardWindowSubrole;
    case WindowKind::dialog:
        return "AXDialog";
    case WindowKind::floating:
        return "AXFloatingWindow";
    case WindowKind::auxiliary:
        return "AXUnknown";
    case WindowKind::desktopPart:
        return "AXSystemFloatingWindow";
    }
    return "AXUnknown";
}

std::optional<std::string_view> schemeOf(std::string_view url) {
    const auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    const std::string_view scheme = url.substr(0, colon);
    const auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!alpha(scheme.front())) return std::nullopt;
    for (const char c : scheme) {
        if (!alpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    return scheme;
}

/// An absolute address with a valid scheme, something after it, and no
/// spaces or control characters.
bool isWellFormedURL(std::string_view url) {
    constexpr std::size_t kMaxURLBytes = 64 * 1024;
    if (url.size() > kMaxURLBytes || !schemeOf(url) || url.size() == schemeOf(url)->size() + 1) return false;
    return std::none_of(url.begin(), url.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F;
    });
}

} // namespace

struct X11Desktop::Connection {
    xcb_connection_t* xcb = nullptr;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    xcb_window_t root = XCB_NONE;
    Atom wmState = 0;
    Atom wmChangeState = 0;
    /// _NET_SYSTEM_TRAY_S<screen>, whose owner is the tray, and the message a new owner announces itself with.
    Atom systemTray = 0;
    Atom manager = 0;
    /// An unmapped window of our own: the window manager's answers to pings
    /// land on it, and a change of it tells the server's time.
    xcb_window_t own = XCB_NONE;
    bool hasClientPids = false;
    /// What is read of each client: property and length in 32-bit units.
    std::array<std::pair<Atom, std::uint32_t>, kClientPropertyCount> clientProperties{};
    /// The stale bits of the titles: shown in the menu, counted by nothing.
    std::uint32_t titleBits = 0;
    std::string hostname;
    TextTypes textTypes;
    WindowTypeAtoms typeAtoms;

    ~Connection() {
        if (ewmhReady) xcb_ewmh_connection_wipe(&ewmh);
        if (xcb != nullptr) xcb_disconnect(xcb);
    }

    bool broken() const { return xcb == nullptr || xcb_connection_has_error(xcb) != 0; }

    /// The stale bit for a change of `property` on a client; 0 when none is read.
    std::uint32_t clientBit(Atom property) const {
        for (std::size_t i = 0; i < clientProperties.size(); ++i) {
            if (clientProperties[i].first == property) return 1u << i;
        }
        return 0;
    }

    xcb_get_property_cookie_t request(Statistics& statistics, xcb_window_t window, Atom property, std::uint32_t longs) {
        ++statistics.requests;
        return xcb_get_property(xcb, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, longs);
    }

    PropertyReply collect(xcb_get_property_cookie_t cookie) {
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
};

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
        switch (error) {
        case XCB_CONN_CLOSED_PARSE_ERR:
            return failure("the display name is malformed");
        case XCB_CONN_CLOSED_INVALID_SCREEN:
            return failure("the display has no such screen");
        default:
            return failure("the server refused or did not answer the connection");
        }
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
    connection->clientProperties = {{{e._NET_WM_PID, 1},
                                     {XCB_ATOM_WM_CLIENT_MACHINE, kMaxMachineLongs},
                                     {XCB_ATOM_WM_CLASS, kMaxClassLongs},
                                     {e._NET_WM_WINDOW_TYPE, kMaxAtoms},
                                     {XCB_ATOM_WM_TRANSIENT_FOR, 1},
                                     {e._NET_WM_STATE, kMaxAtoms},
                                     {connection->wmState, 2},
                                     {e._NET_WM_ALLOWED_ACTIONS, kMaxAtoms},
                                     {e._NET_WM_DESKTOP, 1},
                                     {e._NET_WM_NAME, kMaxTextLongs},
                                     {XCB_ATOM_WM_NAME, kMaxTextLongs}}};
    connection->titleBits = connection->clientBit(e._NET_WM_NAME) | connection->clientBit(XCB_ATOM_WM_NAME);
    connection->hostname = localHostname();
    return ConnectResult{std::unique_ptr<X11Desktop>(new X11Desktop(std::move(connection), name)), {}};
}

X11Desktop::X11Desktop(std::unique_ptr<Connection> connection, std::string displayName)
    : connection_(std::move(connection)), displayName_(std::move(displayName)) {}

X11Desktop::~X11Desktop() {
    if (holdTimer_) holdTimer_->invalidate();
    reapOpeners();
    SigpipeShield shield;
    connection_.reset();
}

WindowId X11Desktop::pingWindow() const { return connection_ ? connection_->own : 0; }

bool X11Desktop::connectionLost() const { return !connection_ || connection_->broken(); }

// --- trust -----------------------------------------------------------------

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
        if (windowManagerCheckWindow_ != 0) iconifyRequests_.forget();
        pings_.clear();
        burstPingAt_.reset();
        windowManagerCheckWindow_ = *checkWindow;
        resynchronize();
        // A window manager met while busy (Quellan started among windows
        // still being managed) is asked nothing until it has caught up.
        iconifyRequests_.setPingable(contains(hints, e._NET_REQUEST_FRAME_EXTENTS));
        if (iconifyRequests_.pingable()) {
            sendPing();
            iconifyRequests_.awaitFirstAnswer();
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

bool X11Desktop::isProcessTrusted() { return checkTrust(); }

bool X11Desktop::isProcessTrustedWithOptions(const ax::TrustCheckOptions& options) {
    const bool trusted = checkTrust();
    if (!trusted && options.prompt && trustPromptHandler_) trustPromptHandler_();
    return trusted;
}

// --- the desktop view --------------------------------------------------------

void X11Desktop::refreshView() {
    if (connectionLost()) {
        view_ = View{};
        view_.built = true;
        return;
    }
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
    if (rootRead || !view_.built) {
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
    if (readClients(listChanged) || clientsRead || viewStale_ || !view_.built) rebuildView();
    settleIconifyRequests();
    if (statistics_.requests != requestsBefore) {
        xcb_flush(x.xcb);
        // Replies waited for above may have queued events the descriptor will not announce.
        pumpEvents();
    }
    if (x.broken()) {
        view_ = View{};
        view_.built = true;
    }
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
    // Kept only where it is needed: heard, a change was dated as it came.
    const bool unheard = root_.hearing.unheardSince.has_value();
    const auto clientsBefore = unheard ? root_.clients : std::nullopt;
    const auto activeBefore = root_.activeWindow;
    const auto desktopBefore = root_.currentDesktop;
    windows(stacking, root_.stacking);
    windows(clients, root_.clients);
    if (active) root_.activeWindow = focused_ = decodeWindow(x.collect(*active).raw());
    if (desktop) root_.currentDesktop = decodeCardinal(x.collect(*desktop).raw());
    // Unheard, a change is known only now, and dated now: a new window
    // then never passes for an old one, nor a focus for an old focus.
    if (unheard) {
        const double now = instantOf(std::nullopt);
        if (root_.clients != clientsBefore) clientListChangedAt_ = now;
        if (root_.currentDesktop != desktopBefore) desktopChangedAt_ = now;
        if (root_.activeWindow != activeBefore && root_.activeWindow) focusLog_.gained(*root_.activeWindow, now);
    }
    if (supported) {
        root_.supported = decodeAtomList(x.collect(*supported).raw(), kMaxSupported);
        iconifyRequests_.setPingable(contains(root_.supported, e._NET_REQUEST_FRAME_EXTENTS));
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
            switch (i) {
            case 0:
                client.netPid = decodeCardinal(raw);
                break;
            case 1:
                client.host = decodeText(raw, x.textTypes, kMaxNameBytes);
                break;
            case 2:
                client.className = decodeClassName(raw, x.textTypes);
                break;
            case 3:
                client.types = decodeAtomList(raw, kMaxAtoms);
                break;
            case 4:
                client.transientFor = decodeWindow(raw);
                break;
            case 5:
                client.states = decodeAtomList(raw, kMaxAtoms);
                break;
            case 6:
                client.wmState = decodeWmState(raw, x.wmState);
                break;
            case 7:
                client.actions = decodeAtomList(raw, kMaxAtoms);
                break;
            case 8:
                client.desktop = decodeCardinal(raw);
                break;
            case 9:
                client.netName = decodeText(raw, x.textTypes);
                break;
            default:
                client.name = decodeText(raw, x.textTypes);
                break;
            }
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
            if (view_.built) client->second.changedAt = clientListChangedAt_;
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
        if (reply && clients_.contains(reply->focus) && reply->focus != focused_) {
            focused_ = reply->focus;
            focusLog_.gained(reply->focus, clientListChangedAt_.value_or(instantOf(std::nullopt)));
        }
    }
    return changed;
}

void X11Desktop::rebuildView() {
    viewStale_ = false;
    Connection& x = *connection_;
    const xcb_ewmh_connection_t& e = x.ewmh;
    view_ = View{};
    view_.built = true;
    const bool publishesAllowedActions = contains(root_.supported, e._NET_WM_ALLOWED_ACTIONS);
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

        WindowRecord record;
        record.id = found->first;
        record.processIdentifier = *processIdentifier;
        record.kind = classifyWindow(client.types, client.transientFor, record.id,
                                     contains(client.states, e._NET_WM_STATE_SKIP_TASKBAR),
                                     contains(client.states, e._NET_WM_STATE_MODAL), x.typeAtoms);
        record.minimized = client.wmState == WmState::iconic || contains(client.states, e._NET_WM_STATE_HIDDEN);
        record.minimizable = publishesAllowedActions ? contains(client.actions, e._NET_WM_ACTION_MINIMIZE)
                                                     : record.kind == WindowKind::standard;
        if (root_.stacking) record.stackingPosition = ordered_.size() - 1 - place; // `ordered_` runs front to back
        record.title = client.netName ? client.netName : client.name;
        record.appearedAt = client.changedAt;
        if (desktopChangedAt_ && (!record.appearedAt || *record.appearedAt < *desktopChangedAt_))
            record.appearedAt = desktopChangedAt_;

        ApplicationRecord& application = view_.applications[record.processIdentifier];
        if (!application.name) application.name = client.className;
        if (record.kind != WindowKind::desktopPart) {
            application.regular = true;
            if (onCurrentDesktop(client.desktop, root_.currentDesktop)) application.windows.push_back(record.id);
        }
        view_.windows.emplace(record.id, std::move(record));
    }
    for (auto& [processIdentifier, application] : view_.applications) {
        if (!application.name) application.name = processName(processIdentifier);
    }
}

void X11Desktop::resynchronize() {
    root_.stale = ~0u;
    for (auto& [window, client] : clients_)
        client.stale = ~0u;
    protectedSeeds_.clear();
    viewStale_ = true;
}

int X11Desktop::eventDescriptor() const { return connectionLost() ? -1 : xcb_get_file_descriptor(connection_->xcb); }

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
    const std::uint32_t shownBits = x.clientBit(x.wmState) | x.clientBit(e._NET_WM_DESKTOP);
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
                            iconifyRequests_.ponged(std::chrono::steady_clock::now());
                            if (iconifyRequests_.wantsPing()) sendPing();
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
            focusLog_.gained(window, at);
            focused_ = window;
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
                focusLog_.gained(*active, *activeChangedAt);
            } else {
                focusLog_.lost(*activeChangedAt);
            }
        }
        root_.activeWindow = active;
        // A window manager that is behind publishes, one after another, the
        // windows it focused long ago: the client the keys go to now wins.
        std::optional<WindowId> holder = active;
        if (input && input->focus != active && clients_.contains(input->focus)) {
            holder = input->focus;
            focusLog_.gained(input->focus, *activeChangedAt);
        }
        if (holder != focused_) changed = true;
        focused_ = holder;
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
    if (!changeHandler_) return;
    auto* runLoop = platform::installed().runLoop;
    // Nothing to wait with.
    if (runLoop == nullptr) return tellChange();
    const auto now = std::chrono::steady_clock::now();
    if (!heldSince_) {
        heldSince_ = now;
        // One in flight already, unanswered, tells nothing of this burst,
        // and a window manager that let it be is not asked again meanwhile.
        if (iconifyRequests_.pingable() && !burstPingAt_) sendPing(Ping::burst);
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
    if (!changeHandler_) return;
    toldSinceLook_ = true;
    changeHandler_();
}

double X11Desktop::instantOf(std::optional<std::uint32_t> serverTime) {
    auto* installed = platform::installed().clock;
    const double now = installed != nullptr ? installed->now() : clock::systemClock().now();
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

bool X11Desktop::observeDesktopChanges(std::function<void()> onChange) {
    changeHandler_ = std::move(onChange);
    iconifyRequests_.setWake(changeHandler_);
    return true;
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
    const std::uint32_t propertyBits = (1u << kClientPropertyCount) - 1;
    for (auto& [window, client] : clients_) {
        if (!client.hearing.unheardSince) continue;
        const bool titleDue = now - client.hearing.titleReadAt >= kTitleEvery;
        if (titleDue) client.hearing.titleReadAt = now;
        const std::uint32_t reads = titleDue ? propertyBits : propertyBits & ~connection_->titleBits;
        visit(window, client.hearing, client.stale, reads, propertyBits, kWatchedEvents);
    }
}

bool X11Desktop::desktopSettled() {
    // First what xcb queued while waiting for replies: the descriptor will not announce that.
    processEvents();
    // An unanswered request is looked at until it is answered: one left
    // undone makes its window count again, which no event announces.
    return !connectionLost() && trusted_.has_value() && root_.stale == 0 && !root_.hearing.unheardSince &&
           !rootFloodTold_ && !viewStale_ && focusLog_.empty() && !iconifyRequests_.anyPending() &&
           std::ranges::none_of(clients_, [&](const auto& client) {
               return client.second.hearing.unheardSince || (client.second.stale & ~connection_->titleBits) != 0;
           });
}

std::vector<ax::FocusChange> X11Desktop::takeFocusChanges() {
    processEvents();
    std::vector<ax::FocusChange> changes;
    for (const auto& [window, instant] : focusLog_.take()) {
        if (const auto found = view_.windows.find(window); found != view_.windows.end()) {
            changes.push_back(
                {elements_.make(ax::ElementObject{.window = window}), found->second.processIdentifier, instant});
        }
    }
    return changes;
}

std::unordered_set<WindowId> X11Desktop::clientsHolding(const std::vector<WindowId>& seeds,
                                                        const std::vector<WindowId>& clients) {
    const std::unordered_set<WindowId> managed(clients.begin(), clients.end());
    std::unordered_set<WindowId> holding;
    std::vector<WindowId> level = seeds;
    // Up the tree from each seed, one pipelined round trip per level.
    constexpr int kMaxDepth = 16;
    for (int depth = 0; depth < kMaxDepth && !level.empty(); ++depth) {
        std::vector<xcb_query_tree_cookie_t> cookies;
        for (const WindowId window : level) {
            if (managed.contains(window)) holding.insert(window);
            cookies.push_back(xcb_query_tree(connection_->xcb, window));
            ++statistics_.requests;
        }
        ++statistics_.roundTrips;
        std::vector<WindowId> parents;
        for (const auto cookie : cookies) {
            const XcbPointer<xcb_query_tree_reply_t> reply(xcb_query_tree_reply(connection_->xcb, cookie, nullptr));
            if (reply && reply->parent != XCB_NONE && reply->parent != connection_->root)
                parents.push_back(reply->parent);
        }
        level = std::move(parents);
    }
    return holding;
}

const X11Desktop::View& X11Desktop::currentView() {
    if (!view_.built || connectionLost()) refreshView();
    return view_;
}

workspace::RunningApplication X11Desktop::describe(std::int32_t processIdentifier,
                                                   const ApplicationRecord& record) const {
    workspace::RunningApplication application;
    application.processIdentifier = processIdentifier;
    application.activationPolicy =
        record.regular ? workspace::ActivationPolicy::regular : workspace::ActivationPolicy::accessory;
    application.localizedName = record.name;
    return application;
}

std::optional<workspace::RunningApplication> X11Desktop::frontmostApplication() {
    ++looks_;
    reapOpeners();
    refreshView();
    viewFreshForRunning_ = true;
    if (!focused_) return std::nullopt;
    const auto window = view_.windows.find(*focused_);
    if (window == view_.windows.end()) return std::nullopt;
    const auto application = view_.applications.find(window->second.processIdentifier);
    if (application == view_.applications.end()) return std::nullopt;
    return describe(application->first, application->second);
}

std::vector<workspace::RunningApplication> X11Desktop::runningApplications() {
    if (!viewFreshForRunning_) refreshView();
    viewFreshForRunning_ = false;
    std::vector<workspace::RunningApplication> running;
    running.reserve(view_.applications.size());
    for (const auto& [processIdentifier, record] : view_.applications)
        running.push_back(describe(processIdentifier, record));
    return running;
}

// --- elements --------------------------------------------------------------

ax::Element X11Desktop::createApplication(std::int32_t processIdentifier) {
    return elements_.make(ax::ElementObject{.isApplication = true, .processIdentifier = processIdentifier});
}

ax::Error X11Desktop::copyAttributeValue(const ax::Element& element, std::string_view attribute, ax::Value& value) {
    value = ax::Value();
    const ax::ElementObject* object = elements_.find(element);
    if (object == nullptr) return kInvalidElement;
    const ax::ElementObject target = *object; // making elements below may move the table
    const View& view = currentView();
    if (connectionLost()) return ax::kCannotComplete;

    if (target.isApplication) {
        const auto application = view.applications.find(target.processIdentifier);
        // An application with no managed window is unknown to X11.
        if (application == view.applications.end()) return ax::kCannotComplete;
        if (attribute == ax::kFocusedWindowAttribute) {
            if (!focused_) return ax::kNoValue;
            const auto active = view.windows.find(*focused_);
            if (active == view.windows.end() || active->second.processIdentifier != target.processIdentifier) {
                return ax::kNoValue;
            }
            value = ax::Value::element(elements_.make(ax::ElementObject{.window = active->first}));
            return ax::kSuccess;
        }
        if (attribute == ax::kWindowsAttribute) {
            ax::Value::List list;
            list.reserve(application->second.windows.size());
            for (const WindowId window : application->second.windows)
                list.push_back(ax::Value::element(elements_.make(ax::ElementObject{.window = window})));
            value = ax::Value::list(std::move(list));
            return ax::kSuccess;
        }
        return ax::kAttributeUnsupported;
    }

    const auto found = view.windows.find(target.window);
    if (found == view.windows.end()) return kInvalidElement;
    const WindowRecord& window = found->second;
    if (attribute == ax::kRoleAttribute) {
        value = ax::Value::text(std::string(ax::kWindowRole));
    } else if (attribute == ax::kSubroleAttribute) {
        value = ax::Value::text(std::string(subroleFor(window.kind)));
    } else if (attribute == ax::kMinimizedAttribute) {
        // Asked and not yet answered counts as minimized: it is on its way,
        // so it is neither counted against the limit nor chosen again.
        value = ax::Value::boolean(window.minimized || iconifyRequests_.isPending(window.id));
    } else if (attribute == ax::kTitleAttribute) {
        if (!window.title) return ax::kNoValue;
        value = ax::Value::text(*window.title);
    } else {
        return ax::kAttributeUnsupported;
    }
    return ax::kSuccess;
}

ax::Error X11Desktop::isAttributeSettable(const ax::Element& element, std::string_view attribute, bool& settable) {
    settable = false;
    const ax::ElementObject* object = elements_.find(element);
    if (object == nullptr) return kInvalidElement;
    const ax::ElementObject target = *object;
    const View& view = currentView();
    if (connectionLost()) return ax::kCannotComplete;
    if (target.isApplication) return ax::kSuccess;
    const auto found = view.windows.find(target.window);
    if (found == view.windows.end()) return kInvalidElement;
    if (attribute == ax::kMinimizedAttribute)
        settable = found->second.minimizable && !iconifyRequests_.refuses(std::chrono::steady_clock::now());
    return ax::kSuccess;
}

ax::Error X11Desktop::setAttributeValue(const ax::Element& element, std::string_view attribute,
                                        const ax::Value& value) {
    const ax::ElementObject* object = elements_.find(element);
    if (object == nullptr) return kInvalidElement;
    if (object->isApplication || attribute != ax::kMinimizedAttribute) return ax::kAttributeUnsupported;
    const bool* flag = value.asBoolean();
    if (flag == nullptr) return ax::kFailure;
    if (!*flag) return ax::kAttributeUnsupported;
    return iconify(object->window);
}

std::optional<std::uint64_t> X11Desktop::stackingPosition(const ax::Element& element) {
    const ax::ElementObject* object = elements_.find(element);
    if (object == nullptr || object->isApplication) return std::nullopt;
    const auto found = view_.windows.find(object->window);
    return found == view_.windows.end() ? std::nullopt : found->second.stackingPosition;
}

std::optional<double> X11Desktop::appearedAt(const ax::Element& element) {
    const ax::ElementObject* object = elements_.find(element);
    if (object == nullptr || object->isApplication) return std::nullopt;
    const auto found = view_.windows.find(object->window);
    return found == view_.windows.end() ? std::nullopt : found->second.appearedAt;
}

// --- minimizing --------------------------------------------------------------

ax::Error X11Desktop::iconify(WindowId window) {
    if (connectionLost()) return ax::kCannotComplete;
    const auto now = std::chrono::steady_clock::now();
    if (iconifyRequests_.isPending(window)) return ax::kSuccess;
    if (!iconifyRequests_.mayAsk(window, now)) return ax::kCannotComplete;

    // A window that changed since the view was made is looked at again
    // first: it may have become one not to touch, or be gone.
    SigpipeShield shield;
    pumpEvents();
    const auto client = clients_.find(window);
    if (client == clients_.end() || client->second.stale != 0 || viewStale_) {
        refreshView();
        const auto found = view_.windows.find(window);
        if (found == view_.windows.end() || found->second.minimized || !found->second.minimizable ||
            found->second.kind != WindowKind::standard)
            return ax::kCannotComplete;
    }
    // A window manager that has not read what an earlier look asked is
    // behind: what it will focus meanwhile is unknown, so nothing more is
    // asked until it has caught up.
    if (iconifyRequests_.behind(now, looks_)) return ax::kCannotComplete;
    // The window in use is never touched, whatever an older look said:
    // neither the one the window manager names nor the one the keys go to,
    // which it may name only later.
    if (root_.activeWindow == window || focused_ == window) return ax::kCannotComplete;

    // "The client should send a ClientMessage event to the root ... with
    // window = the client's top-level window, type = WM_CHANGE_STATE,
    // format = 32, data[0] = IconicState", with SubstructureRedirect|SubstructureNotify.
    Connection& x = *connection_;
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = window;
    request.type = x.wmChangeState;
    request.data.data32[0] = XCB_ICCCM_WM_STATE_ICONIC;
    ++statistics_.requests;
    xcb_send_event(x.xcb, 0, x.root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&request));
    xcb_flush(x.xcb);
    if (x.broken()) return ax::kCannotComplete;
    iconifyRequests_.sent(window, now);
    if (iconifyRequests_.wantsPing()) sendPing();
    return ax::kSuccess;
}

void X11Desktop::sendPing(Ping purpose) {
    // "The Window Manager MUST respond by estimating the prospective frame
    // extents and setting the window's _NET_FRAME_EXTENTS property", and it
    // handles what it is sent in order: once the property changes, every
    // iconify request sent before has been read.
    Connection& x = *connection_;
    xcb_client_message_event_t ping{};
    ping.response_type = XCB_CLIENT_MESSAGE;
    ping.format = 32;
    ping.window = x.own;
    ping.type = x.ewmh._NET_REQUEST_FRAME_EXTENTS;
    ++statistics_.requests;
    xcb_send_event(x.xcb, 0, x.root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ping));
    xcb_flush(x.xcb);
    pings_.push_back(purpose);
    const auto now = std::chrono::steady_clock::now();
    if (purpose == Ping::burst) {
        burstPingAt_ = now;
    } else {
        iconifyRequests_.pinged(now, looks_);
    }
}

void X11Desktop::settleIconifyRequests() {
    const auto minimized = [&](WindowId window) -> std::optional<bool> {
        const auto found = view_.windows.find(window);
        return found == view_.windows.end() ? std::nullopt : std::optional(found->second.minimized);
    };
    const auto now = std::chrono::steady_clock::now();
    if (iconifyRequests_.settle(minimized, now) && noticeHandler_) {
        noticeHandler_("This window manager does not minimize windows when asked, so Quellan cannot keep the "
                       "number of open windows under the limit here. It will ask again now and then, and at once "
                       "if another window manager takes over.");
    }
}

// --- workspace ---------------------------------------------------------------

bool isRegularURL(std::string_view url) {
    if (!isWellFormedURL(url)) return false;
    std::string scheme(*schemeOf(url));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "file" || scheme == "mailto";
}

bool X11Desktop::openURL(std::string_view url) {
    reapOpeners();
    if (!isRegularURL(url)) {
        if (addressHandler_) return addressHandler_(url);
        if (!isWellFormedURL(url)) return false;
    }
    // Spawned directly, no shell; reaped later without waiting for it.
    std::string program = "xdg-open";
    std::string argument(url);
    std::array<char*, 3> arguments{program.data(), argument.data(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program.c_str(), nullptr, nullptr, arguments.data(), environ) != 0) return false;
    openerProcesses_.push_back(child);
    return true;
}

void X11Desktop::reapOpeners() {
    std::erase_if(openerProcesses_, [](int child) {
        int status = 0;
        return waitpid(child, &status, WNOHANG) != 0; // exited, or not ours to wait for
    });
}

std::int32_t X11Desktop::processIdentifier() { return static_cast<std::int32_t>(getpid()); }

} // namespace quellan::x11
