// The application framework: the application object and its delegate,
// the status item, and menus as plain values that backends turn into
// native menus, so that the program itself never touches a toolkit.
#pragma once

#include "Platform/Workspace.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quellan::appkit {

class Menu;
struct MenuItem;

/// Receives the actions of menu items, by selector, with the item that sent it.
class MenuTarget {
public:
    virtual ~MenuTarget() = default;
    virtual void performAction(std::string_view selector, const MenuItem& sender) = 0;
};

/// The object a menu item carries: none, an integer number, or another kind of value.
using RepresentedObject = std::variant<std::monostate, std::int64_t, double, std::string>;

enum class ControlState : int { off = 0, on = 1 };

/// The key equivalent's modifier; a single letter is used with Command.
enum class KeyModifier { command };

/// A run of bytes within a text.
struct TextRange {
    std::size_t location = 0;
    std::size_t length = 0;
};

struct MenuItem {
    std::string title;
    /// Runs of `title` that other programs supplied (a window's title, its
    /// application's name), in order and apart: a backend may shorten each
    /// and give it a text direction of its own. The title stays whole.
    std::vector<TextRange> quotedRanges;
    /// The selector sent to `target` when the item is chosen; none for a label.
    std::optional<std::string> action;
    std::string keyEquivalent;
    KeyModifier keyEquivalentModifier = KeyModifier::command;
    std::weak_ptr<MenuTarget> target;
    RepresentedObject representedObject;
    ControlState state = ControlState::off;
    bool enabled = true;
    std::shared_ptr<Menu> submenu;
    bool isSeparator = false;

    MenuItem() = default;
    MenuItem(std::string title, std::optional<std::string> action, std::string keyEquivalent)
        : title(std::move(title)), action(std::move(action)), keyEquivalent(std::move(keyEquivalent)) {}
    static MenuItem separatorItem() {
        MenuItem item;
        item.isSeparator = true;
        return item;
    }

    /// The represented object when it is an integer number.
    std::optional<std::int64_t> integerRepresentedObject() const {
        if (const auto* value = std::get_if<std::int64_t>(&representedObject)) return *value;
        return std::nullopt;
    }
};

/// Told as a person opens and closes a menu.
class MenuDelegate {
public:
    virtual ~MenuDelegate() = default;
    virtual void menuWillOpen() = 0;
    virtual void menuDidClose() = 0;
};

class Menu {
public:
    void addItem(MenuItem item) { items_.push_back(std::move(item)); }
    const std::vector<MenuItem>& items() const { return items_; }

    /// Told as the menu opens and closes where the backend tells it: the Qt
    /// one does for a status item's menu, before it shows the rows; the
    /// macOS one does not. Not part of the comparison below.
    std::weak_ptr<MenuDelegate> delegate;

private:
    std::vector<MenuItem> items_;
};

/// What choosing an item does: an enabled item with an action sends it to
/// its target with the item as argument; anything else does nothing.
/// Returns whether an action was sent.
bool performActionForItem(const MenuItem& item);

/// How a menu differs from another, so that a backend can keep its native
/// menu when a rebuilt model brings nothing new, or only retitle it.
enum class MenuDifference {
    none,        ///< every item alike, submenus included, with the same target
    labelTitles, ///< alike but for the titles of items without an action
    other,
};
MenuDifference compareMenus(const Menu& a, const Menu& b);

/// A named symbol image with its text for assistive technology.
struct Image {
    std::string symbolName;
    std::string accessibilityDescription;
    bool operator==(const Image&) const = default;
};

class StatusBarButton {
public:
    virtual ~StatusBarButton() = default;
    virtual void setImage(const std::optional<Image>& image) = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setToolTip(const std::string& toolTip) = 0;
};

class StatusItem {
public:
    virtual ~StatusItem() = default;
    /// The item's button; may be none.
    virtual StatusBarButton* button() = 0;
    /// Replaces the menu shown when the item is clicked.
    virtual void setMenu(std::shared_ptr<const Menu> menu) = 0;
};

/// Length of a status item sized to its content.
inline constexpr double kVariableStatusItemLength = -1;

class StatusBar {
public:
    virtual ~StatusBar() = default;
    virtual std::shared_ptr<StatusItem> statusItemWithLength(double length) = 0;
};

class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() = 0;
    virtual void applicationWillTerminate() = 0;
};

class Application {
public:
    virtual ~Application() = default;
    /// The application holds its delegate weakly.
    virtual void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) = 0;
    virtual bool setActivationPolicy(workspace::ActivationPolicy policy) = 0;
    /// Runs the event loop: calls `applicationDidFinishLaunching` once, then
    /// delivers menu actions and timer ticks until `terminate`.
    virtual void run() = 0;
    /// Calls the delegate's `applicationWillTerminate`, then ends the event loop.
    virtual void terminate() = 0;
};

/// What a framework backend provides.
class FrameworkBackend {
public:
    virtual ~FrameworkBackend() = default;
    virtual Application& sharedApplication() = 0;
    virtual StatusBar& systemStatusBar() = 0;
    /// None when the backend knows no symbol of that name.
    virtual std::optional<Image> imageWithSystemSymbolName(std::string_view name,
                                                           std::string_view accessibilityDescription) = 0;
};

/// Installs the framework backend and returns the previous one.
FrameworkBackend* installFramework(FrameworkBackend* backend) noexcept;
FrameworkBackend& framework() noexcept;

Application& sharedApplication();
StatusBar& systemStatusBar();
std::optional<Image> imageWithSystemSymbolName(std::string_view name, std::string_view accessibilityDescription);

} // namespace quellan::appkit
