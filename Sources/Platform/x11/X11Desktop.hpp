// The accessibility and workspace backends over an X11 display with an
// EWMH window manager: managed client windows seen as application windows.
//
// How the X11 desktop maps onto the accessibility model:
// - Trust: connected to a display whose window manager advertises
//   (_NET_SUPPORTING_WM_CHECK, _NET_SUPPORTED) a client list and an active
//   window. There is no permission prompt on X11; a prompting trust check
//   calls the installed prompt handler when trust is missing.
// - Applications: the local processes owning managed clients, by
//   _NET_WM_PID, else by the X-Resource client pid. Clients of another host
//   (WM_CLIENT_MACHINE), and clients whose process is unknown, are left out.
//   Named by WM_CLASS (class part), else /proc/<pid>/comm. Never hidden or
//   terminated; regular when they own any window other than docks, desktop
//   backgrounds and popups, accessory otherwise.
// - Frontmost: the owner of _NET_ACTIVE_WINDOW; its "AXFocusedWindow" is
//   the active window.
// - "AXWindows": the application's managed clients on the current desktop
//   (or on all desktops), front to back by _NET_CLIENT_LIST_STACKING, newest
//   mapped first where only _NET_CLIENT_LIST is known. Docks, desktop
//   backgrounds and popup types are never listed.
// - "AXRole" is "AXWindow"; "AXSubrole" is "AXStandardWindow" for normal,
//   non-transient windows that do not skip the taskbar, "AXDialog" for
//   dialogs, modal and transient windows, "AXFloatingWindow" for utility,
//   toolbar and menu windows, "AXUnknown" for splash screens and windows
//   kept off the taskbar, "AXSystemFloatingWindow" for docks and the like.
// - "AXMinimized": WM_STATE Iconic or _NET_WM_STATE_HIDDEN. Settable when
//   _NET_WM_ALLOWED_ACTIONS holds _NET_WM_ACTION_MINIMIZE; with a window
//   manager that does not publish allowed actions, standard windows are.
//   Setting it to true sends the ICCCM iconify request without waiting for
//   the window manager; until the answer the window reads as minimized, so
//   it is neither counted against the limit nor chosen again, however late
//   the window manager is (one that is behind may focus a window before it
//   reads the request: counting the window as still there would then leave
//   fewer than the limit). The focused window, as the server tells the
//   input focus (which the window manager may publish only later), is never
//   asked. Whether the window manager has read a request is learned by a
//   ping sent after it (_NET_REQUEST_FRAME_EXTENTS for a window of our own,
//   answered in order with the requests before it); only a request it has
//   read and left undone counts as ignored: the window counts again and is
//   not asked again for a growing pause. A window manager that ignored
//   several requests and never honoured one is taken to refuse: no window
//   is then settable (so none counts), the notice handler says so once, and
//   it is asked again after a growing back-off, or at once when a new
//   window manager takes over. Restoring a window is not offered, since X11
//   restores only by activating it.
// - Never listed, whatever their type: the tray (the managed client holding
//   the owner of _NET_SYSTEM_TRAY_S<screen>) and the managed clients holding
//   any of the program's own windows (its tray icon, embedded in a tray).
// - Changes: every event above that changes what is counted is told to
//   the observer (`observeDesktopChanges`), so a caller may rest while the
//   desktop stands still. A window manager changes several properties for
//   one new window, one after another: the telling waits until it has
//   answered a ping sent after the first (it handles what it is sent in
//   order, so its burst is over), or, where it answers none, until changes
//   pause for `kQuietAfterChange`; `kLongestHold` at most either way. A new
//   title changes nothing that is counted: it is read at the next look
//   and told to nobody. Settled while no such property is left to read
//   and no focus change to take, and while no iconify request waits for an
//   answer (one left undone brings its window back, which no event tells).
// - Reading: `processEvents` says how long reading may rest. A caller that
//   has been told of a change will look soon and read everything then; a
//   flood of changes that count for nothing (a terminal printing its
//   progress into its title) is read in batches, not event by event.
// - Focus changes: listed clients report when they gain the focus, and
//   _NET_ACTIVE_WINDOW is followed by its change events (for a client not
//   yet listed). Both are read whenever `processEvents` runs (call it when
//   `eventDescriptor` is readable) and at every view, in the order they
//   happened, and a window that loses the focus is logged as used until
//   then. Each is stamped with the X server's time of the event that told
//   it (a focus event, which carries none, with that of the next event that
//   does), so what happened while Quellan was not reading keeps its place.
// - Appearance: a window that became one to count since the first view
//   (newly listed, restored, or on the desktop just switched to) tells when,
//   by the server's time of the change (`appearedAt`).
// - Element hash: the window id (the pid for application elements);
//   equality: the same window, or the same pid.
// The answers themselves come from the shared model (`DesktopModel`), which
// this backend keeps current; its files each hold one concern: the xcb
// connection (`Connection.*`), trust (`Trust.cpp`), reading the desktop
// (`Reading.cpp`), the event pump, holding changes and floods
// (`Events.cpp`), Quellan's own tray (`OwnTray.cpp`) and minimizing
// (`Minimizing.cpp`).
//
// The view of the desktop is kept current by events, not read afresh: the
// root's properties and every listed client's are read once, and again
// only when a PropertyNotify says that property changed (clients are
// watched for property, focus and structure changes from before their
// first read, so no change falls between). A snapshot on an unchanged
// desktop therefore sends no request at all; one after changes reads just
// what changed, pipelined in one round trip, the known clients' reads
// riding along with the root's (clients new to the list take a second).
// The trust check is answered the same way: the window manager's check
// window is watched for its destruction and the root for new ones. A new
// window manager makes the view start again from scratch, and a window
// whose properties changed since the view was made is read again before
// it is iconified. A lost connection makes every call fail softly.
#pragma once

#include "Platform/Platform.hpp"
#include "Platform/model/DesktopModel.hpp"
#include "Platform/x11/PropertyDecoding.hpp"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quellan::x11 {

/// Traffic counters, for tests and benchmarks.
struct Statistics {
    /// Times a call waited for the server's answers to a batch of requests.
    std::uint64_t roundTrips = 0;
    /// Requests sent.
    std::uint64_t requests = 0;
};

class X11Desktop;
struct Connection;

/// The outcome of connecting: a desktop, or why there is none.
struct ConnectResult {
    std::unique_ptr<X11Desktop> desktop;
    std::string error;
};

class X11Desktop final : private platform::DesktopModel::Feed {
public:
    /// Connects to `displayName`, or to $DISPLAY when none is given.
    static ConnectResult connect(const std::optional<std::string>& displayName = std::nullopt);
    ~X11Desktop() override;
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    /// Gives the program's own windows (such as its tray icon), whose holders are never listed.
    void setOwnWindows(std::function<std::vector<WindowId>()> ownWindows) { ownWindows_ = std::move(ownWindows); }
    /// Told when the root starts flooding property changes (true) and when
    /// it has been heard calm again, for the program's other connections to
    /// follow; the desktop is not settled in between.
    void setRootFloodHandler(std::function<void(bool flooding)> handler) { rootFloodHandler_ = std::move(handler); }

    /// The connection's file descriptor, -1 once lost; call `processEvents`
    /// whenever it is readable.
    int eventDescriptor() const;
    /// Reads what the display has sent since: focus changes above all.
    /// Returns how long the caller may leave the descriptor unwatched
    /// before the next call: nothing read meanwhile is lost, only later.
    std::chrono::milliseconds processEvents();

    /// How long a change is held, at most, for the window manager to finish what brought it.
    static constexpr std::chrono::milliseconds kLongestHold{40};
    /// Where the window manager answers no ping: the pause that ends its burst.
    static constexpr std::chrono::milliseconds kQuietAfterChange{8};
    /// A window (a client, or the root) changing more properties than this
    /// in `kFloodSpan` floods: its property changes go unheard for
    /// `kUnheardFor`, and it is read at every look meanwhile, which the
    /// caller is kept to by not settling.
    static constexpr std::uint32_t kFloodChanges = 100;
    static constexpr std::chrono::milliseconds kFloodSpan{200};
    static constexpr std::chrono::seconds kUnheardFor{10};
    /// How long reading rests in a flood of changes that count for nothing,
    /// or once a change has been told and a look is due anyway.
    static constexpr std::chrono::milliseconds kReadingRest{100};

    /// True once the connection to the display broke; every call then fails softly.
    bool connectionLost() const;
    const std::string& displayName() const { return displayName_; }
    /// The accessibility and workspace backends; the clock and run loop come from elsewhere.
    platform::Backends backends() {
        return platform::Backends{.accessibility = &model_, .workspace = &model_, .clock = &clock::systemClock()};
    }

    /// The model this backend feeds, which answers the platform calls; its
    /// handlers (trust prompt, addresses, notices) are set there.
    platform::DesktopModel& model() { return model_; }
    const Statistics& statistics() const { return statistics_; }
    /// The window the window manager answers pings on, for tests.
    WindowId pingWindow() const;
    /// Makes the next view read the whole desktop again, as a new window manager does.
    void resynchronize();

private:
    /// Whether one window's property changes are heard, and how many came lately.
    struct Hearing {
        /// Changes since `spanStart` (the server's time).
        std::uint32_t heard = 0;
        std::uint32_t spanStart = 0;
        /// Since when its changes go unheard: too many to follow, they are read at every look instead.
        std::optional<std::chrono::steady_clock::time_point> unheardSince;
        /// When its title was last read while unheard.
        std::chrono::steady_clock::time_point titleReadAt{};
        /// Counts a change told at server time `time`; true when it starts a flood.
        bool floods(std::uint32_t time) {
            if (time - spanStart > kFloodSpan.count()) {
                spanStart = time;
                heard = 0;
            }
            return ++heard > kFloodChanges && !unheardSince;
        }
    };

    /// What one client's properties said when last read, and which of them
    /// changed since (one bit per `ClientProperty`, then the X-Resource pid).
    struct ClientState {
        std::uint32_t stale = ~0u;
        std::optional<std::uint32_t> netPid;
        std::optional<std::int32_t> clientPid;
        std::optional<std::string> host, className, netName, name;
        std::vector<Atom> types, states, actions;
        std::optional<WindowId> transientFor;
        std::optional<WmState> wmState;
        std::optional<std::uint32_t> desktop;
        /// When it was listed, restored or moved between desktops (wall clock).
        std::optional<double> changedAt;
        Hearing hearing;
    };

    /// The root's properties as last read, and which changed since (bits of `RootProperty`).
    struct RootState {
        std::uint32_t stale = ~0u;
        std::optional<std::vector<WindowId>> stacking, clients;
        std::optional<WindowId> activeWindow;
        std::optional<std::uint32_t> currentDesktop;
        std::vector<Atom> supported;
        WindowId trayOwner = 0;
        Hearing hearing;
    };

    explicit X11Desktop(std::unique_ptr<Connection> connection, std::string displayName);

    // --- what the model asks (the feed) ----------------------------------
    bool trusted() override { return checkTrust(); }
    void readArrived() override { processEvents(); }
    void refresh() override { refreshView(); }
    bool mayMinimize(platform::DesktopModel::Key window) override;
    bool sendMinimize(platform::DesktopModel::Key window) override;
    void sendPing() override { ping(Ping::requests); }
    bool settled() override;
    bool lost() const override { return connectionLost(); }

    // Trust.cpp
    bool checkTrust();
    // Reading.cpp
    void refreshView();
    struct PendingClient;
    /// Reads what changed of the root; `alongside` sends more requests into the same round trip.
    bool readRoot(const std::function<void()>& alongside);
    void sendClientReads(std::vector<PendingClient>& pending);
    bool collectClientReads(const std::vector<PendingClient>& pending);
    /// Stores one property's value as read.
    void decodeClientProperty(std::size_t property, const RawProperty& raw, ClientState& client) const;
    bool readClients(bool listChanged);
    void rebuildView();
    /// The model emptied, as for a lost connection.
    void showNothing();
    // Events.cpp
    /// True when something that is counted changed.
    bool pumpEvents();
    /// A change that is counted: told once the window manager's burst is over.
    void holdChange();
    void tellChange();
    /// The wall-clock instant of a server time carried by an event.
    double instantOf(std::optional<std::uint32_t> serverTime);
    /// Stops hearing a flooding window's property changes, keeping `keep` of its events; `hearAgain` starts again.
    void unhear(WindowId window, Hearing& hearing, std::uint32_t keep);
    /// At every look: marks what goes unheard for reading, and hears again what has gone unheard long enough.
    void hearAgain();
    // OwnTray.cpp
    std::unordered_set<WindowId> clientsHolding(const std::vector<WindowId>& seeds,
                                                const std::vector<WindowId>& clients);
    // Minimizing.cpp
    /// What a ping is for: the iconify requests it covers, or the end of a burst of changes.
    enum class Ping : std::uint8_t { requests, burst };
    void ping(Ping purpose);

    std::unique_ptr<Connection> connection_;
    std::string displayName_;
    platform::DesktopModel model_;
    /// The model was shown a view of this desktop (it may be empty).
    bool viewBuilt_ = false;
    /// The check window the last trust check confirmed, watched for its end.
    WindowId confirmedCheckWindow_ = 0;
    /// The last trust check's answer, good until an event says otherwise.
    std::optional<bool> trusted_;
    RootState root_;
    /// Listed clients, watched for changes; protected ones are left out.
    std::unordered_map<WindowId, ClientState> clients_;
    /// The clients, front to back, the view was last made from.
    std::vector<WindowId> ordered_;
    bool viewStale_ = true;
    Statistics statistics_;
    std::function<std::vector<WindowId>()> ownWindows_;
    std::function<void(bool)> rootFloodHandler_;
    /// Whether the handler was last told the root floods, and when the root was last heard again.
    bool rootFloodTold_ = false;
    std::chrono::steady_clock::time_point rootHeardAgainAt_{};
    /// The window manager the answers above are about.
    WindowId windowManagerCheckWindow_ = 0;
    std::vector<WindowId> protectedSeeds_;
    std::unordered_set<WindowId> protectedClients_;
    /// Server time less steady-clock milliseconds, as the freshest event showed it.
    std::optional<std::uint32_t> serverTimeOffset_;
    /// When the client list and the current desktop last changed (wall clock).
    std::optional<double> clientListChangedAt_, desktopChangedAt_;
    /// Pings sent and not yet answered, oldest first: answers come in order.
    std::deque<Ping> pings_;
    /// A change held until the window manager's burst is over: since when,
    /// and the timer that tells it at the latest.
    std::optional<std::chrono::steady_clock::time_point> heldSince_;
    /// When the burst ping in flight went, if one is.
    std::optional<std::chrono::steady_clock::time_point> burstPingAt_;
    std::shared_ptr<platform::Timer> holdTimer_;
    /// Told of a change since the last look began: the caller will look soon.
    bool toldSinceLook_ = false;
    /// When `processEvents` last read something that counts for nothing, and whether it rested for a flood.
    std::optional<std::chrono::steady_clock::time_point> lastIdleRead_;
    bool restedForFlood_ = false;
};

} // namespace quellan::x11
