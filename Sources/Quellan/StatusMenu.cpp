// The status item and its menu, rebuilt from the last published state.
#include "Platform/MainThread.hpp"
#include "Quellan/AppDelegate.hpp"

namespace quellan {
namespace {

std::string minutesText(std::int64_t minutes) {
    return std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
}

appkit::MenuItem label(std::string title, bool enabled = false) {
    appkit::MenuItem item(std::move(title), std::nullopt, "");
    item.enabled = enabled;
    return item;
}

} // namespace

std::string AppDelegate::formatDuration(std::int64_t seconds) {
    const std::int64_t s = seconds < 0 ? 0 : seconds;
    const std::int64_t h = s / 3600;
    const std::int64_t r = s - 3600 * h;
    const std::int64_t m = r / 60;
    const std::int64_t t = s % 60;
    if (s >= 3600) return std::to_string(h) + "h " + std::to_string(m) + "m";
    if (r >= 60) return std::to_string(m) + "m " + std::to_string(t) + "s";
    return std::to_string(t) + "s";
}

std::string AppDelegate::inactiveTooltipSuffix() const {
    if (!state_.inactiveMinutes) return "";
    return ", inactive after " + minutesText(*state_.inactiveMinutes);
}

std::shared_ptr<appkit::Menu> AppDelegate::activeWindowsMenu() const {
    auto menu = std::make_shared<appkit::Menu>();
    if (state_.activeWindows.empty()) {
        menu->addItem(label("No active windows"));
        return menu;
    }
    for (const auto& window : state_.activeWindows) {
        // Names and titles are neither shortened nor escaped here; the
        // backend is told where they lie, so that it can draw them safely.
        const std::string prefix = window.isCurrent ? "Current: " : "";
        appkit::MenuItem row = label(prefix + window.applicationName + " - " + window.title + " - " +
                                     formatDuration(window.openDurationSeconds));
        row.quotedRanges = {{prefix.size(), window.applicationName.size()},
                            {prefix.size() + window.applicationName.size() + 3, window.title.size()}};
        menu->addItem(std::move(row));
    }
    return menu;
}

void AppDelegate::rebuildMenu() {
    platform::requireMainThread("AppDelegate::rebuildMenu");
    if (!statusItem_) return;
    const bool trusted = state_.isTrusted;

    if (appkit::StatusBarButton* button = statusItem_->button()) {
        button->setImage(trusted
                             ? appkit::imageWithSystemSymbolName("macwindow.on.rectangle", "Quellan")
                             : appkit::imageWithSystemSymbolName("exclamationmark.triangle", "Quellan needs access"));
        button->setTitle(" " + std::to_string(state_.limit));
        button->setToolTip(trusted ? "Quellan: " + std::to_string(state_.visibleWindowCount) + " of " +
                                         std::to_string(state_.limit) + " windows" + inactiveTooltipSuffix()
                                   : "Quellan needs Accessibility access");
    }

    const std::weak_ptr<appkit::MenuTarget> target = weak_from_this();
    const auto command = [&](std::string title, std::string_view selector, std::string keyEquivalent = "") {
        appkit::MenuItem item(std::move(title), std::string(selector), std::move(keyEquivalent));
        item.target = target;
        return item;
    };
    const auto mark = [](bool on) { return on ? appkit::ControlState::on : appkit::ControlState::off; };

    auto menu = std::make_shared<appkit::Menu>();
    menu->delegate = weak_from_this();
    menu->addItem(label("Velquor"));
    menu->addItem(appkit::MenuItem::separatorItem());

    menu->addItem(label("Window limit"));
    for (std::int64_t v = 1; v <= 10; ++v) {
        auto item = command(std::to_string(v), selectLimitSelector);
        item.representedObject = v;
        item.state = mark(v == state_.limit);
        menu->addItem(std::move(item));
    }
    menu->addItem(appkit::MenuItem::separatorItem());

    menu->addItem(label("Minimize inactive windows"));
    auto off = command("Off", selectInactiveMinutesSelector);
    off.state = mark(!state_.inactiveMinutes);
    menu->addItem(std::move(off));
    for (const std::int64_t m : WindowMonitor::supportedInactiveMinutes) {
        auto item = command(minutesText(m), selectInactiveMinutesSelector);
        item.representedObject = m;
        item.state = mark(state_.inactiveMinutes == m);
        menu->addItem(std::move(item));
    }
    menu->addItem(appkit::MenuItem::separatorItem());

    const std::int64_t visible = state_.visibleWindowCount;
    menu->addItem(label(trusted ? std::to_string(visible) + (visible == 1 ? " window" : " windows") + " active"
                                : "Accessibility access required"));
    auto active = label("Active Windows (" + std::to_string(state_.activeWindows.size()) + ")", trusted);
    active.submenu = activeWindowsMenu();
    menu->addItem(std::move(active));
    if (!trusted) {
        menu->addItem(command("Grant Accessibility Access\u2026", grantAccessibilityAccessSelector));
        menu->addItem(command("Open Accessibility Settings\u2026", openAccessibilitySettingsSelector));
    }
    auto checkNowItem = command("Check Now", checkNowSelector);
    checkNowItem.enabled = trusted;
    menu->addItem(std::move(checkNowItem));
    menu->addItem(appkit::MenuItem::separatorItem());
    menu->addItem(command("Quit Quellan", quitApplicationSelector, "q"));

    statusItem_->setMenu(std::move(menu));
}

} // namespace quellan
