#include "Platform/wayland/WaylandDesktop.hpp"

#include "plasma-virtual-desktop-client-protocol.h"
#include "plasma-window-management-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace quellan::wayland {
namespace {

using Toplevel = WaylandDesktop::Toplevel;

// Newer protocol versions than these bring nothing Quellan reads.
constexpr std::uint32_t kPlasmaVersion = 16;
constexpr std::uint32_t kWlrVersion = 3;

Toplevel& toplevelOf(void* data) { return *static_cast<Toplevel*>(data); }
WaylandDesktop& desktopOf(void* data) { return *static_cast<WaylandDesktop*>(data); }

// --- KWin: org_kde_plasma_window ---------------------------------------------

template <typename... Arguments> void ignore(void*, org_kde_plasma_window*, Arguments...) {}

const org_kde_plasma_window_listener kPlasmaWindowListener = {
    .title_changed = [](void* data, org_kde_plasma_window*, const char* title) { toplevelOf(data).title = title; },
    .app_id_changed = [](void* data, org_kde_plasma_window*, const char* id) { toplevelOf(data).appId = id; },
    .state_changed =
        [](void* data, org_kde_plasma_window*, std::uint32_t flags) {
            Toplevel& toplevel = toplevelOf(data);
            toplevel.active = (flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE) != 0;
            toplevel.minimized = (flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED) != 0;
            toplevel.minimizable = (flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZABLE) != 0;
            toplevel.skipTaskbar = (flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_SKIPTASKBAR) != 0;
            toplevel.onAllDesktops = (flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ON_ALL_DESKTOPS) != 0;
            if (toplevel.described) toplevel.owner->onChanged(toplevel);
        },
    .virtual_desktop_changed = ignore<std::int32_t>,
    .themed_icon_name_changed = ignore<const char*>,
    .unmapped = [](void* data, org_kde_plasma_window*) { toplevelOf(data).owner->onClosed(toplevelOf(data)); },
    .initial_state =
        [](void* data, org_kde_plasma_window*) {
            Toplevel& toplevel = toplevelOf(data);
            toplevel.described = true;
            toplevel.owner->onChanged(toplevel);
        },
    .parent_window = [](void* data, org_kde_plasma_window*,
                        org_kde_plasma_window* parent) { toplevelOf(data).hasParent = parent != nullptr; },
    .geometry = ignore<std::int32_t, std::int32_t, std::uint32_t, std::uint32_t>,
    .icon_changed = ignore<>,
    .pid_changed =
        [](void* data, org_kde_plasma_window*, std::uint32_t pid) {
            if (pid > 0 && pid <= INT32_MAX) toplevelOf(data).pid = static_cast<std::int32_t>(pid);
        },
    .virtual_desktop_entered = [](void* data, org_kde_plasma_window*,
                                  const char* id) { toplevelOf(data).desktops.emplace_back(id); },
    .virtual_desktop_left = [](void* data, org_kde_plasma_window*,
                               const char* id) { std::erase(toplevelOf(data).desktops, std::string(id)); },
    .application_menu = ignore<const char*, const char*>,
    .activity_entered = ignore<const char*>,
    .activity_left = ignore<const char*>,
    .resource_name_changed = ignore<const char*>,
};

const org_kde_plasma_window_management_listener kPlasmaManagerListener = {
    .show_desktop_changed = [](void*, org_kde_plasma_window_management*, std::uint32_t) {},
    .window =
        [](void* data, org_kde_plasma_window_management* manager, std::uint32_t id) {
            // Newer compositors announce each window twice; the uuid one is taken then.
            if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(manager)) >= 13) return;
            desktopOf(data).onToplevel(nullptr, id, {});
        },
    .stacking_order_changed =
        [](void* data, org_kde_plasma_window_management*, wl_array* ids) {
            std::vector<std::uint32_t> list(static_cast<const std::uint32_t*>(ids->data),
                                            static_cast<const std::uint32_t*>(ids->data) +
                                                ids->size / sizeof(std::uint32_t));
            desktopOf(data).onStacking({}, std::move(list));
        },
    .stacking_order_uuid_changed =
        [](void* data, org_kde_plasma_window_management*, const char* uuids) {
            std::vector<std::string> list;
            for (std::string_view rest = uuids; !rest.empty();) {
                const auto end = std::min(rest.find(';'), rest.size());
                if (end > 0) list.emplace_back(rest.substr(0, end));
                rest.remove_prefix(std::min(end + 1, rest.size()));
            }
            desktopOf(data).onStacking(std::move(list), {});
        },
    .window_with_uuid = [](void* data, org_kde_plasma_window_management*, std::uint32_t id,
                           const char* uuid) { desktopOf(data).onToplevel(nullptr, id, uuid); },
};

// --- KWin: virtual desktops --------------------------------------------------

using VirtualDesktop = WaylandDesktop::VirtualDesktop;
void setActive(void* data, bool active) {
    const auto& desktop = *static_cast<const VirtualDesktop*>(data);
    desktop.owner->onDesktopActive(desktop.id, active);
}

const org_kde_plasma_virtual_desktop_listener kVirtualDesktopListener = {
    .desktop_id = [](void*, org_kde_plasma_virtual_desktop*, const char*) {},
    .name = [](void*, org_kde_plasma_virtual_desktop*, const char*) {},
    .activated = [](void* data, org_kde_plasma_virtual_desktop*) { setActive(data, true); },
    .deactivated = [](void* data, org_kde_plasma_virtual_desktop*) { setActive(data, false); },
    .done = [](void*, org_kde_plasma_virtual_desktop*) {},
    .removed = [](void*, org_kde_plasma_virtual_desktop*) {},
};

const org_kde_plasma_virtual_desktop_management_listener kVirtualDesktopManagerListener = {
    .desktop_created = [](void* data, org_kde_plasma_virtual_desktop_management*, const char* id,
                          std::uint32_t) { desktopOf(data).onDesktop(id, true); },
    .desktop_removed = [](void* data, org_kde_plasma_virtual_desktop_management*,
                          const char* id) { desktopOf(data).onDesktop(id, false); },
    .done = [](void*, org_kde_plasma_virtual_desktop_management*) {},
    .rows = [](void*, org_kde_plasma_virtual_desktop_management*, std::uint32_t) {},
};

// --- wlroots: zwlr_foreign_toplevel_handle_v1 --------------------------------

const zwlr_foreign_toplevel_handle_v1_listener kWlrToplevelListener = {
    .title = [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) { toplevelOf(data).title = title; },
    .app_id = [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* id) { toplevelOf(data).appId = id; },
    .output_enter = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    .output_leave = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    .state =
        [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
            Toplevel& toplevel = toplevelOf(data);
            const auto* first = static_cast<const std::uint32_t*>(states->data);
            const auto* last = first + states->size / sizeof(std::uint32_t);
            toplevel.active = std::find(first, last, ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) != last;
            toplevel.minimized = std::find(first, last, ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED) != last;
        },
    .done =
        [](void* data, zwlr_foreign_toplevel_handle_v1*) {
            Toplevel& toplevel = toplevelOf(data);
            toplevel.described = true;
            toplevel.owner->onChanged(toplevel);
        },
    .closed = [](void* data, zwlr_foreign_toplevel_handle_v1*) { toplevelOf(data).owner->onClosed(toplevelOf(data)); },
    .parent = [](void* data, zwlr_foreign_toplevel_handle_v1*,
                 zwlr_foreign_toplevel_handle_v1* parent) { toplevelOf(data).hasParent = parent != nullptr; },
};

const zwlr_foreign_toplevel_manager_v1_listener kWlrManagerListener = {
    .toplevel = [](void* data, zwlr_foreign_toplevel_manager_v1*,
                   zwlr_foreign_toplevel_handle_v1* handle) { desktopOf(data).onToplevel(handle, 0, {}); },
    .finished = [](void*, zwlr_foreign_toplevel_manager_v1*) {},
};

const wl_registry_listener kRegistryListener = {
    .global = [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                 std::uint32_t version) { desktopOf(data).bindGlobal(registry, name, interface, version); },
    .global_remove = [](void*, wl_registry*, std::uint32_t) {},
};

} // namespace

ConnectResult WaylandDesktop::connect(const std::optional<std::string>& displayName) {
    std::unique_ptr<WaylandDesktop> desktop(new WaylandDesktop);
    desktop->display_ = wl_display_connect(displayName ? displayName->c_str() : nullptr);
    if (desktop->display_ == nullptr) {
        return {nullptr, "cannot connect to the Wayland compositor (" + std::string(std::strerror(errno)) + ")"};
    }
    desktop->registry_ = wl_display_get_registry(desktop->display_);
    wl_registry_add_listener(desktop->registry_, &kRegistryListener, desktop.get());
    desktop->announcingExisting_ = true;
    // Round trips for the globals, for the windows there now, and for what each one is.
    if (wl_display_roundtrip(desktop->display_) < 0 || desktop->manager_ == nullptr) {
        return {nullptr,
                "this Wayland compositor does not let other programs list and minimize its windows. Quellan "
                "works with KDE Plasma (KWin); on GNOME through its own Shell extension; on wlroots compositors "
                "through their foreign-toplevel interface, which lists windows everywhere but minimizes them only "
                "where the compositor honours the request (labwc and wayfire are expected to, sway does not); and "
                "in X11 sessions. weston offers no such interface. KWin offers its interface only to an installed "
                "Quellan, whose desktop entry asks for it (cmake --install, or the package)"};
    }
    wl_display_roundtrip(desktop->display_);
    wl_display_roundtrip(desktop->display_);
    desktop->announcingExisting_ = false;
    desktop->model_.requests().setPingable(true);
    desktop->showToplevels();
    return {std::move(desktop), {}};
}

void WaylandDesktop::bindGlobal(wl_registry* registry, std::uint32_t name, std::string_view interface,
                                std::uint32_t version) {
    if (interface == org_kde_plasma_virtual_desktop_management_interface.name && desktopManager_ == nullptr) {
        auto* manager = static_cast<org_kde_plasma_virtual_desktop_management*>(wl_registry_bind(
            registry, name, &org_kde_plasma_virtual_desktop_management_interface, std::min(version, 2u)));
        org_kde_plasma_virtual_desktop_management_add_listener(manager, &kVirtualDesktopManagerListener, this);
        desktopManager_ = manager;
    }
    if (manager_ != nullptr) return;
    if (interface == org_kde_plasma_window_management_interface.name) {
        protocol_ = Protocol::plasma;
        managerVersion_ = std::min(version, kPlasmaVersion);
        auto* manager = static_cast<org_kde_plasma_window_management*>(
            wl_registry_bind(registry, name, &org_kde_plasma_window_management_interface, managerVersion_));
        org_kde_plasma_window_management_add_listener(manager, &kPlasmaManagerListener, this);
        manager_ = manager;
    } else if (interface == zwlr_foreign_toplevel_manager_v1_interface.name) {
        protocol_ = Protocol::wlr;
        managerVersion_ = std::min(version, kWlrVersion);
        auto* manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface, managerVersion_));
        zwlr_foreign_toplevel_manager_v1_add_listener(manager, &kWlrManagerListener, this);
        manager_ = manager;
    }
}

WaylandDesktop::WaylandDesktop()
    : model_(*this, "This compositor does not minimize windows when asked, so Quellan cannot keep the number of "
                    "open windows under the limit here. It will ask again now and then.") {}

WaylandDesktop::~WaylandDesktop() {
    if (display_ == nullptr) return;
    if (syncCallback_ != nullptr) wl_callback_destroy(static_cast<wl_callback*>(syncCallback_));
    for (auto& [key, toplevel] : toplevels_)
        wl_proxy_destroy(static_cast<wl_proxy*>(toplevel->handle));
    for (auto& [id, desktop] : virtualDesktops_)
        wl_proxy_destroy(static_cast<wl_proxy*>(desktop->proxy));
    if (desktopManager_ != nullptr) wl_proxy_destroy(static_cast<wl_proxy*>(desktopManager_));
    if (manager_ != nullptr) wl_proxy_destroy(static_cast<wl_proxy*>(manager_));
    if (registry_ != nullptr) wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
}

// --- events ------------------------------------------------------------------

int WaylandDesktop::eventDescriptor() const { return connectionLost() ? -1 : wl_display_get_fd(display_); }

bool WaylandDesktop::connectionLost() const { return display_ == nullptr || wl_display_get_error(display_) != 0; }

std::chrono::milliseconds WaylandDesktop::processEvents() {
    if (connectionLost()) return {};
    // Whatever has arrived, never waiting for more.
    int handled = 0;
    while (wl_display_prepare_read(display_) != 0) {
        const int dispatched = wl_display_dispatch_pending(display_);
        if (dispatched < 0) return {}; // the connection broke
        handled += dispatched;
    }
    wl_display_flush(display_);
    pollfd readable{wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&readable, 1, 0) > 0) {
        wl_display_read_events(display_);
    } else {
        wl_display_cancel_read(display_);
    }
    handled += std::max(wl_display_dispatch_pending(display_), 0);
    // This connection serves window management alone, so any event may change the model.
    if (handled > 0) showToplevels();
    model_.settleRequests();
    if (handled > 0) model_.tellChange();
    return {};
}

void WaylandDesktop::onToplevel(void* handle, std::uint32_t internalId, std::string uuid) {
    auto toplevel = std::make_unique<Toplevel>();
    toplevel->owner = this;
    toplevel->key = nextKey_++;
    toplevel->internalId = internalId;
    toplevel->uuid = std::move(uuid);
    if (protocol_ == Protocol::plasma) {
        auto* manager = static_cast<org_kde_plasma_window_management*>(manager_);
        auto* window = !toplevel->uuid.empty()
                           ? org_kde_plasma_window_management_get_window_by_uuid(manager, toplevel->uuid.c_str())
                           : org_kde_plasma_window_management_get_window(manager, internalId);
        org_kde_plasma_window_add_listener(window, &kPlasmaWindowListener, toplevel.get());
        toplevel->handle = window;
        // Before version 4 nothing marks the end of the first description.
        toplevel->described = managerVersion_ < 4;
    } else {
        auto* window = static_cast<zwlr_foreign_toplevel_handle_v1*>(handle);
        zwlr_foreign_toplevel_handle_v1_add_listener(window, &kWlrToplevelListener, toplevel.get());
        toplevel->handle = window;
    }
    // New windows open on top until the compositor says otherwise. wlroots
    // compositors announce the windows there at connect time newest first:
    // each goes below the ones before it, so the oldest ends at the bottom.
    if (announcingExisting_ && protocol_ == Protocol::wlr) {
        stacking_.insert(stacking_.begin(), toplevel->key);
    } else {
        stacking_.push_back(toplevel->key);
    }
    toplevels_.emplace(toplevel->key, std::move(toplevel));
}

void WaylandDesktop::onChanged(Toplevel& toplevel) {
    // Numbered as they appear, not as they are asked about.
    model_.applicationFor(toplevel.pid, toplevel.appId);
    // Opened or restored: from here on it may count, and ranks from when.
    if (!toplevel.minimized && !toplevel.shown && !announcingExisting_)
        toplevel.appearedAt = platform::DesktopModel::wallNow();
    toplevel.shown = !toplevel.minimized;
    if (toplevel.active && model_.focused() != toplevel.key) {
        model_.moveFocus(toplevel.key, platform::DesktopModel::wallNow());
        if (!stackingFromCompositor_) {
            // Without the compositor's stacking order, the order of activation stands in for it.
            std::erase(stacking_, toplevel.key);
            stacking_.push_back(toplevel.key);
        }
    } else if (!toplevel.active && model_.focused() == toplevel.key) {
        model_.moveFocus(std::nullopt, platform::DesktopModel::wallNow());
    }
}

void WaylandDesktop::onClosed(Toplevel& toplevel) {
    const std::uint64_t key = toplevel.key;
    if (model_.focused() == key) model_.moveFocus(std::nullopt, platform::DesktopModel::wallNow());
    std::erase(stacking_, key);
    // Destroying a proxy inside its own event handler is allowed.
    if (protocol_ == Protocol::plasma && managerVersion_ >= 4) {
        org_kde_plasma_window_destroy(static_cast<org_kde_plasma_window*>(toplevel.handle));
    } else if (protocol_ == Protocol::wlr) {
        zwlr_foreign_toplevel_handle_v1_destroy(static_cast<zwlr_foreign_toplevel_handle_v1*>(toplevel.handle));
    } else {
        wl_proxy_destroy(static_cast<wl_proxy*>(toplevel.handle));
    }
    toplevels_.erase(key);
}

void WaylandDesktop::onStacking(std::vector<std::string> uuids, std::vector<std::uint32_t> internalIds) {
    // Both forms may come; the uuid one names windows unambiguously.
    if (uuids.empty() && stackingFromCompositor_ && managerVersion_ >= 12) return;
    std::vector<std::uint64_t> order;
    for (const auto& [key, toplevel] : toplevels_) {
        const bool named = uuids.empty() ? std::ranges::count(internalIds, toplevel->internalId) != 0
                                         : std::ranges::count(uuids, toplevel->uuid) != 0;
        if (!named) order.push_back(key); // not placed yet: at the bottom
    }
    const auto place = [&](auto&& matches) {
        for (const auto& [key, toplevel] : toplevels_)
            if (matches(*toplevel)) order.push_back(key);
    };
    if (uuids.empty()) {
        for (const std::uint32_t id : internalIds)
            place([&](const Toplevel& toplevel) { return toplevel.internalId == id; });
    } else {
        for (const std::string& uuid : uuids)
            place([&](const Toplevel& toplevel) { return toplevel.uuid == uuid; });
    }
    stacking_ = std::move(order);
    stackingFromCompositor_ = true;
}

void WaylandDesktop::onDesktop(const std::string& id, bool created) {
    const auto found = virtualDesktops_.find(id);
    if (created && found == virtualDesktops_.end()) {
        auto* proxy = org_kde_plasma_virtual_desktop_management_get_virtual_desktop(
            static_cast<org_kde_plasma_virtual_desktop_management*>(desktopManager_), id.c_str());
        auto& desktop = virtualDesktops_[id] = std::make_unique<VirtualDesktop>(VirtualDesktop{this, id, proxy});
        org_kde_plasma_virtual_desktop_add_listener(proxy, &kVirtualDesktopListener, desktop.get());
    } else if (!created && found != virtualDesktops_.end()) {
        org_kde_plasma_virtual_desktop_destroy(static_cast<org_kde_plasma_virtual_desktop*>(found->second->proxy));
        virtualDesktops_.erase(found);
        if (currentDesktop_ == id) currentDesktop_.reset();
    }
}

void WaylandDesktop::onDesktopActive(const std::string& id, bool active) {
    if (active) {
        currentDesktop_ = id;
        // Its windows come into sight together, to rank by their stacking.
        const double now = platform::DesktopModel::wallNow();
        for (auto& [key, toplevel] : toplevels_)
            toplevel->appearedAt = now;
    } else if (currentDesktop_ == id) {
        currentDesktop_.reset();
    }
}

// --- the desktop as applications and windows ---------------------------------

const Toplevel* WaylandDesktop::toplevel(std::uint64_t key) const {
    const auto found = toplevels_.find(key);
    return found == toplevels_.end() ? nullptr : found->second.get();
}

bool WaylandDesktop::listed(const Toplevel& toplevel) const {
    // Windows on another virtual desktop are out of sight, as on X11.
    const bool onCurrentDesktop = !currentDesktop_ || toplevel.onAllDesktops || toplevel.desktops.empty() ||
                                  std::ranges::count(toplevel.desktops, *currentDesktop_) != 0;
    return toplevel.described && onCurrentDesktop;
}

std::vector<Toplevel> WaylandDesktop::toplevels() const {
    std::vector<Toplevel> copies;
    for (const auto& [key, toplevel] : toplevels_)
        copies.push_back(*toplevel);
    return copies;
}

void WaylandDesktop::showToplevels() {
    std::vector<platform::DesktopModel::Window> windows;
    // Front to back: the top of the stack first.
    for (auto key = stacking_.rbegin(); key != stacking_.rend(); ++key) {
        const Toplevel* found = toplevel(*key);
        if (found == nullptr || !listed(*found)) continue;
        platform::DesktopModel::Window& window = windows.emplace_back();
        window.key = found->key;
        window.application = model_.applicationFor(found->pid, found->appId);
        window.kind = found->hasParent     ? platform::WindowKind::dialog
                      : found->skipTaskbar ? platform::WindowKind::auxiliary
                                           : platform::WindowKind::standard;
        window.minimized = found->minimized;
        window.minimizable = found->minimizable;
        window.title = found->title;
        if (!found->appId.empty()) window.applicationName = found->appId;
        window.stackingPosition = static_cast<std::uint64_t>(stacking_.rend() - key - 1);
        window.appearedAt = found->appearedAt;
    }
    model_.show(std::move(windows));
}

// --- minimizing --------------------------------------------------------------

bool WaylandDesktop::sendMinimize(platform::DesktopModel::Key key) {
    const Toplevel* window = toplevel(key);
    if (window == nullptr || connectionLost()) return false;
    if (protocol_ == Protocol::plasma) {
        org_kde_plasma_window_set_state(static_cast<org_kde_plasma_window*>(window->handle),
                                        ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED,
                                        ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED);
    } else {
        zwlr_foreign_toplevel_handle_v1_set_minimized(static_cast<zwlr_foreign_toplevel_handle_v1*>(window->handle));
    }
    wl_display_flush(display_);
    return true;
}

void WaylandDesktop::sendPing() {
    // "The sync request asks the server to emit the 'done' event on the
    // returned wl_callback object. Since requests are handled in-order and
    // events are delivered in-order, this can be used as a barrier".
    static const wl_callback_listener listener = {
        .done =
            [](void* data, wl_callback* callback, std::uint32_t) {
                auto& desktop = desktopOf(data);
                wl_callback_destroy(callback);
                desktop.syncCallback_ = nullptr;
                desktop.model_.requestsRead();
            },
    };
    auto* callback = wl_display_sync(display_);
    wl_callback_add_listener(callback, &listener, this);
    syncCallback_ = callback;
    wl_display_flush(display_);
}

} // namespace quellan::wayland
