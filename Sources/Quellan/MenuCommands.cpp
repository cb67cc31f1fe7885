// The six menu commands. None touches the menu: it follows the state the
// scan each of them runs publishes.
#include "Platform/Accessibility.hpp"
#include "Platform/MainThread.hpp"
#include "Platform/Workspace.hpp"
#include "Quellan/AppDelegate.hpp"

namespace quellan {

void AppDelegate::performAction(std::string_view selector, const appkit::MenuItem& sender) {
    if (selector == selectLimitSelector) return selectLimit(sender);
    if (selector == selectInactiveMinutesSelector) return selectInactiveMinutes(sender);
    if (selector == grantAccessibilityAccessSelector) return grantAccessibilityAccess();
    if (selector == openAccessibilitySettingsSelector) return openAccessibilitySettings();
    if (selector == checkNowSelector) return checkNow();
    if (selector == quitApplicationSelector) return quitApplication();
}

void AppDelegate::selectLimit(const appkit::MenuItem& sender) {
    platform::requireMainThread("AppDelegate::selectLimit");
    const auto value = sender.integerRepresentedObject();
    if (!value || !monitor_) return;
    monitor_->setLimit(*value);
}

void AppDelegate::selectInactiveMinutes(const appkit::MenuItem& sender) {
    platform::requireMainThread("AppDelegate::selectInactiveMinutes");
    if (!monitor_) return;
    // Anything but an integer ("Off" carries none) switches it off.
    monitor_->setInactiveMinutes(sender.integerRepresentedObject());
}

void AppDelegate::grantAccessibilityAccess() {
    platform::requireMainThread("AppDelegate::grantAccessibilityAccess");
    if (!monitor_) return;
    (void)ax::isProcessTrustedWithOptions(ax::TrustCheckOptions{.prompt = true});
    monitor_->scanNow();
}

void AppDelegate::openAccessibilitySettings() {
    platform::requireMainThread("AppDelegate::openAccessibilitySettings");
    (void)workspace::openURL(accessibilitySettingsURL);
}

void AppDelegate::checkNow() {
    platform::requireMainThread("AppDelegate::checkNow");
    if (monitor_) monitor_->scanNow();
}

void AppDelegate::quitApplication() {
    platform::requireMainThread("AppDelegate::quitApplication");
    appkit::sharedApplication().terminate();
}

} // namespace quellan
