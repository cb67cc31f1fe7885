#include "Platform/gnome/ShellWindows.hpp"

#include <unordered_set>

namespace quellan::gnome {
namespace {

bool inSight(const ShellWindows::Window& window) { return window.shown && !window.minimized; }

platform::WindowKind kindOf(std::uint32_t kind) {
    // A kind this program does not know is treated as part of the desktop: never listed, never touched.
    return kind <= static_cast<std::uint32_t>(platform::WindowKind::desktopPart)
               ? static_cast<platform::WindowKind>(kind)
               : platform::WindowKind::desktopPart;
}

} // namespace

void ShellWindows::replace(std::uint32_t serial, std::vector<Window> windows, std::vector<std::uint64_t> stacking,
                           std::uint64_t focused) {
    const bool first = !known_;
    std::unordered_map<std::uint64_t, Kept> kept;
    for (Window& window : windows) {
        const auto before = windows_.find(window.id);
        Kept& entry = kept[window.id];
        if (before != windows_.end()) entry.appearedAt = before->second.appearedAt;
        // Read again after a missed change: a window new since then came into sight meanwhile.
        const bool cameIntoSight =
            inSight(window) && (before == windows_.end() ? !first : !inSight(before->second.window));
        if (cameIntoSight) entry.appearedAt = platform::DesktopModel::wallNow();
        entry.window = std::move(window);
    }
    windows_ = std::move(kept);
    stacking_ = std::move(stacking);
    serial_ = serial;
    known_ = true;
    focus(focused);
    show();
}

bool ShellWindows::apply(Change change) {
    // Before the first answer everything is read anyway; a change the answer holds is old news.
    if (!known_ || change.serial - serial_ - 1 >= 0x8000'0000u) return true;
    if (change.serial != serial_ + 1) return false;
    serial_ = change.serial;
    for (Window& window : change.windows)
        take(std::move(window));
    for (const std::uint64_t id : change.closed)
        close(id);
    stacking_ = std::move(change.stacking);
    for (const std::uint64_t id : change.focus)
        focus(id);
    show();
    return true;
}

void ShellWindows::forget() {
    known_ = false;
    windows_.clear();
    stacking_.clear();
    model_.moveFocus(std::nullopt, platform::DesktopModel::wallNow());
    model_.show({});
}

void ShellWindows::take(Window window) {
    auto [entry, added] = windows_.try_emplace(window.id);
    // Opened, restored or brought onto the workspace shown: from here on it may count, and ranks from when.
    if (inSight(window) && (added || !inSight(entry->second.window)))
        entry->second.appearedAt = platform::DesktopModel::wallNow();
    entry->second.window = std::move(window);
}

void ShellWindows::focus(std::uint64_t id) {
    model_.moveFocus(id != 0 && windows_.contains(id) ? std::optional(id) : std::nullopt,
                     platform::DesktopModel::wallNow());
}

void ShellWindows::close(std::uint64_t id) {
    if (model_.focused() == id) focus(0);
    windows_.erase(id);
}

void ShellWindows::show() {
    // Bottom first: a window the order leaves out below them all, each window once.
    std::vector<std::uint64_t> order;
    order.reserve(windows_.size());
    std::unordered_set<std::uint64_t> placed;
    for (const std::uint64_t id : stacking_)
        if (windows_.contains(id)) placed.insert(id);
    for (const auto& [id, kept] : windows_)
        if (!placed.contains(id)) order.push_back(id);
    for (const std::uint64_t id : stacking_)
        if (placed.erase(id) != 0) order.push_back(id);
    std::vector<platform::DesktopModel::Window> shown;
    shown.reserve(order.size());
    for (std::size_t position = order.size(); position-- > 0;) {
        const std::uint64_t id = order[position];
        const auto found = windows_.find(id);
        const Window& window = found->second.window;
        platform::DesktopModel::Window& entry = shown.emplace_back();
        entry.key = id;
        entry.application =
            model_.applicationFor(window.pid > 0 ? std::optional(window.pid) : std::nullopt, window.windowClass);
        entry.kind = kindOf(window.kind);
        entry.minimized = window.minimized;
        entry.minimizable = window.minimizable;
        entry.shown = window.shown;
        entry.title = window.title;
        if (!window.windowClass.empty()) entry.applicationName = window.windowClass;
        entry.stackingPosition = static_cast<std::uint64_t>(position);
        entry.appearedAt = found->second.appearedAt;
    }
    model_.show(std::move(shown));
}

} // namespace quellan::gnome
