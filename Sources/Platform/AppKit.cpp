// Dispatch of framework calls to the installed backend, and menu actions.
#include "Platform/AppKit.hpp"

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
