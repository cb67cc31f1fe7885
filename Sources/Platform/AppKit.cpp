// Dispatch of framework calls to the installed backend, and menu actions.
#include "Platform/AppKit.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace quellan::appkit {
namespace {

FrameworkBackend* current = nullptr;

} // namespace

bool performActionForItem(const MenuItem& item) {
    if (item.isSeparator || !item.enabled || !item.action) return false;
    const std::shared_ptr<MenuTarget> target = item.target.lock();
    if (!target) return false;
    target->performAction(*item.action, item);
    return true;
}

namespace {

bool sameTarget(const std::weak_ptr<MenuTarget>& a, const std::weak_ptr<MenuTarget>& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

MenuDifference compareItems(const MenuItem& a, const MenuItem& b) {
    if (a.action != b.action || a.keyEquivalent != b.keyEquivalent ||
        a.keyEquivalentModifier != b.keyEquivalentModifier || a.representedObject != b.representedObject ||
        a.state != b.state || a.enabled != b.enabled || a.isSeparator != b.isSeparator ||
        !sameTarget(a.target, b.target) || (a.submenu == nullptr) != (b.submenu == nullptr))
        return MenuDifference::other;
    // An action's sender carries its title: a new one needs a new item.
    if (a.title != b.title && a.action) return MenuDifference::other;
    const MenuDifference own = a.title == b.title ? MenuDifference::none : MenuDifference::labelTitles;
    return a.submenu ? std::max(own, compareMenus(*a.submenu, *b.submenu)) : own;
}

} // namespace

MenuDifference compareMenus(const Menu& a, const Menu& b) {
    if (a.items().size() != b.items().size()) return MenuDifference::other;
    MenuDifference difference = MenuDifference::none;
    for (std::size_t i = 0; i < a.items().size() && difference != MenuDifference::other; ++i)
        difference = std::max(difference, compareItems(a.items()[i], b.items()[i]));
    return difference;
}

FrameworkBackend* installFramework(FrameworkBackend* backend) noexcept {
    FrameworkBackend* previous = current;
    current = backend;
    return previous;
}

FrameworkBackend& framework() noexcept {
    if (current == nullptr) {
        std::fprintf(stderr, "quellan: programming error: no application framework backend is installed\n");
        std::abort();
    }
    return *current;
}

Application& sharedApplication() { return framework().sharedApplication(); }
StatusBar& systemStatusBar() { return framework().systemStatusBar(); }
std::optional<Image> imageWithSystemSymbolName(std::string_view name, std::string_view accessibilityDescription) {
    return framework().imageWithSystemSymbolName(name, accessibilityDescription);
}

} // namespace quellan::appkit
