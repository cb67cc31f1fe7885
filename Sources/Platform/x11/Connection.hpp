// The xcb plumbing the X11 backend shares between its files: the
// connection with its atoms, property replies, the properties read of each
// client, and the shield against SIGPIPE on a vanished server.
#pragma once

#include "Platform/x11/PropertyDecoding.hpp"
#include "Platform/x11/X11Desktop.hpp"

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <pthread.h>
#include <string>
#include <utility>

namespace quellan::x11 {

// Request sizes, in 32-bit units: enough for any sane value, bounded for insane ones.
inline constexpr std::uint32_t kMaxClients = 1u << 16;
inline constexpr std::uint32_t kMaxSupported = 1024;
inline constexpr std::uint32_t kMaxAtoms = 64;
inline constexpr std::uint32_t kMaxTextLongs = kMaxTextBytes / 4;
inline constexpr std::uint32_t kMaxClassLongs = 2 * kMaxNameBytes / 4;
inline constexpr std::uint32_t kMaxMachineLongs = 64;

// The root properties the view is made from, as bits of RootState::stale.
enum RootProperty : std::uint32_t {
    kStacking = 1u << 0,
    kClientList = 1u << 1,
    kActive = 1u << 2,
    kCurrentDesktop = 1u << 3,
    kSupported = 1u << 4,
    kTrayOwner = 1u << 5,
};

// The properties read of each client, each with a stale bit of its own (1 <<
// its value); what is read for each is set in `connect`, what it says is
// decoded in `X11Desktop::decodeClientProperty`, both by these names.
enum class ClientProperty : std::uint8_t {
    pid,
    machine,
    className,
    types,
    transientFor,
    states,
    wmState,
    allowedActions,
    desktop,
    netName,
    name,
};
inline constexpr std::size_t kClientPropertyCount = static_cast<std::size_t>(ClientProperty::name) + 1;
constexpr std::uint32_t bitOf(ClientProperty property) { return 1u << static_cast<unsigned>(property); }
// After the properties: the X-Resource client pid, read once.
inline constexpr std::uint32_t kClientPid = 1u << kClientPropertyCount;
inline constexpr std::uint32_t kClientPropertyBits = kClientPid - 1;

// What this connection hears of the windows it watches: clients, the window
// manager's check window and the tray. One mask for all, since selecting
// replaces the last selection and one window may be more than one of these.
inline constexpr std::uint32_t kWatchedEvents =
    XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_FOCUS_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
// The root's properties are followed as they change, and a new tray
// announces itself to the root's structure listeners.
inline constexpr std::uint32_t kRootEvents = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
// What the root's properties are read for at every look while they go unheard.
inline constexpr std::uint32_t kRootReads = kStacking | kClientList | kActive | kCurrentDesktop | kSupported;

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

inline bool contains(const std::vector<Atom>& atoms, Atom atom) {
    return atom != 0 && std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
}

/// Keeps a write to a vanished server from killing the process with
/// SIGPIPE: blocks it on this thread and discards one raised meanwhile.
class SigpipeShield {
public:
    SigpipeShield();
    ~SigpipeShield();
    SigpipeShield(const SigpipeShield&) = delete;
    SigpipeShield& operator=(const SigpipeShield&) = delete;

private:
    sigset_t pipeOnly_{};
    sigset_t previous_{};
    bool wasPending_ = false;
};

struct Connection {
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
    /// What is read of each client, by `ClientProperty`: property and length in 32-bit units.
    std::array<std::pair<Atom, std::uint32_t>, kClientPropertyCount> clientProperties{};
    /// The stale bits of the titles: shown in the menu, counted by nothing.
    std::uint32_t titleBits = 0;
    std::string hostname;
    TextTypes textTypes;
    WindowTypeAtoms typeAtoms;

    ~Connection();

    bool broken() const { return xcb == nullptr || xcb_connection_has_error(xcb) != 0; }

    /// The stale bit for a change of `property` on a client; 0 when none is read.
    std::uint32_t clientBit(Atom property) const {
        for (std::size_t i = 0; i < clientProperties.size(); ++i) {
            if (clientProperties[i].first == property) return 1u << i;
        }
        return 0;
    }

    xcb_get_property_cookie_t request(Statistics& statistics, xcb_window_t window, Atom property, std::uint32_t longs);
    PropertyReply collect(xcb_get_property_cookie_t cookie);
    /// Sends `message` to the root as the window manager's clients do.
    void sendToRoot(const xcb_client_message_event_t& message);
};

} // namespace quellan::x11
