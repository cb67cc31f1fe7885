// The accessibility and workspace backends over a Wayland compositor that
// lets a program list and minimize other programs' windows: KWin through
// org_kde_plasma_window_management, wlroots compositors (labwc, wayfire,
// sway, ...) through zwlr_foreign_toplevel_manager_v1. Other compositors
// (GNOME, weston) offer neither; `connect` then says so.
//
// How a Wayland desktop maps onto the accessibility model:
// - Trust: the compositor offers one of the two protocols.
// - Applications: by process id where the protocol gives one (KWin). Under
//   the wlr protocol, or for a window without one, by app_id: each app_id
//   gets a number of its own above any process id the kernel hands out, so
//   the two never meet. Quellan's own windows (its app_id "quellan") count
//   as its own process, which the window source leaves out. Named by app_id.
// - Frontmost: the owner of the active toplevel; its "AXFocusedWindow" is it.
// - "AXWindows": the application's toplevels, front to back by the
//   compositor's stacking order (KWin), otherwise most recently activated first.
// - "AXSubrole": "AXStandardWindow", or "AXDialog" for a toplevel with a
//   parent, "AXUnknown" for one kept off the taskbar.
// - "AXMinimized": the minimized state. Settable where the compositor says
//   the window can be minimized (KWin), or always (wlr), until the
//   compositor is learned to ignore such requests. Setting it sends the
//   request and never waits: as on X11, the window reads as minimized until
//   the answer, a sync sent after the request tells when the compositor has
//   read it, only a request read and left undone counts as ignored (and
//   brings the window back), and a compositor that never honours one is
//   said once and asked again after a growing back-off. The active window
//   is never asked.
// - Focus changes: the active toplevel's changes, in order, the window that
//   lost the focus logged as used until then, stamped with the installed
//   clock as they are read (`processEvents`, when `eventDescriptor` is readable).
// - Changes: any event read is told to the observer (`observeDesktopChanges`).
// - Element hash: a number the backend gives each toplevel when it appears.
// The answers come from the shared model (`DesktopModel`), shown the
// toplevels anew whenever events have changed them.
#pragma once

#include "Platform/Platform.hpp"
#include "Platform/model/DesktopModel.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct wl_display;
struct wl_registry;

namespace quellan::wayland {

class WaylandDesktop;

struct ConnectResult {
    std::unique_ptr<WaylandDesktop> desktop;
    std::string error;
};

class WaylandDesktop final : private platform::DesktopModel::Feed {
public:
    enum class Protocol { plasma, wlr };

    /// Connects to `displayName`, or to $WAYLAND_DISPLAY, and reads the
    /// windows there now. Fails, saying why, when the compositor offers
    /// neither protocol.
    static ConnectResult connect(const std::optional<std::string>& displayName = std::nullopt);
    ~WaylandDesktop() override;
    WaylandDesktop(const WaylandDesktop&) = delete;
    WaylandDesktop& operator=(const WaylandDesktop&) = delete;

    Protocol protocol() const { return protocol_; }
    platform::Backends backends() {
        return platform::Backends{.accessibility = &model_, .workspace = &model_, .clock = &clock::systemClock()};
    }
    /// Readable when the compositor has sent something; then call processEvents.
    int eventDescriptor() const;
    /// Reads and handles what has arrived, without waiting for more.
    /// Returns how long the caller may leave the descriptor unwatched: never.
    std::chrono::milliseconds processEvents();
    bool connectionLost() const;

    /// The model this backend feeds, which answers the platform calls; its
    /// handlers (trust prompt, addresses, notices) are set there.
    platform::DesktopModel& model() { return model_; }

    /// One toplevel as the compositor has described it so far.
    struct Toplevel {
        WaylandDesktop* owner = nullptr;
        void* handle = nullptr;
        std::uint64_t key = 0;
        std::uint32_t internalId = 0; // the older plasma protocols' name for it
        std::string uuid;
        std::string title, appId;
        std::optional<std::int32_t> pid;
        bool described = false; // its first full description has arrived
        bool active = false, minimized = false, minimizable = true, skipTaskbar = false, hasParent = false;
        /// KWin's virtual desktops it is on; none known: on every one.
        std::vector<std::string> desktops;
        bool onAllDesktops = false;
        void* parent = nullptr;
        /// When it was first described or last restored (installed clock);
        /// none for the windows there at connect time.
        std::optional<double> appearedAt;
        bool shown = false;
    };
    struct VirtualDesktop {
        WaylandDesktop* owner = nullptr;
        std::string id;
        void* proxy = nullptr;
    };
    /// The toplevels as last described, for tests and benchmarks.
    std::vector<Toplevel> toplevels() const;
    /// For the protocol listeners only.
    void onToplevel(void* handle, std::uint32_t internalId, std::string uuid);
    void onChanged(Toplevel& toplevel);
    void onClosed(Toplevel& toplevel);
    void onStacking(std::vector<std::string> uuids, std::vector<std::uint32_t> internalIds);
    void onDesktop(const std::string& id, bool created);
    void onDesktopActive(const std::string& id, bool active);
    void bindGlobal(wl_registry* registry, std::uint32_t name, std::string_view interface, std::uint32_t version);

private:
    WaylandDesktop();
    // --- what the model asks (the feed) ----------------------------------
    bool trusted() override { return manager_ != nullptr && !connectionLost(); }
    void readArrived() override { processEvents(); }
    void refresh() override { processEvents(); }
    bool mayMinimize(platform::DesktopModel::Key key) override { return toplevel(key) != nullptr; }
    bool sendMinimize(platform::DesktopModel::Key key) override;
    void sendPing() override;
    bool settled() override { return true; }
    bool lost() const override { return connectionLost(); }

    const Toplevel* toplevel(std::uint64_t key) const;
    bool listed(const Toplevel& toplevel) const;
    /// Shows the model the listed toplevels, front to back.
    void showToplevels();

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    void* manager_ = nullptr;
    void* desktopManager_ = nullptr;
    /// KWin's virtual desktops by id, and the one shown; the limit counts its windows only.
    std::map<std::string, std::unique_ptr<VirtualDesktop>> virtualDesktops_;
    std::optional<std::string> currentDesktop_;
    Protocol protocol_ = Protocol::plasma;
    std::uint32_t managerVersion_ = 0;
    std::uint64_t nextKey_ = 1;
    std::map<std::uint64_t, std::unique_ptr<Toplevel>> toplevels_;
    /// Keys bottom first: the stacking order, or the order of activation.
    std::vector<std::uint64_t> stacking_;
    bool stackingFromCompositor_ = false;
    /// While `connect` reads the windows already there.
    bool announcingExisting_ = false;
    /// The sync in flight, whose answer says the requests before it were read.
    void* syncCallback_ = nullptr;
    platform::DesktopModel model_;
};

} // namespace quellan::wayland
