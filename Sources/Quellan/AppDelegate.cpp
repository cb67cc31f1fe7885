// The delegate's launch, termination and state callback.
#include "Quellan/AppDelegate.hpp"

#include "Platform/MainThread.hpp"
#include "Platform/UserDefaults.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"

namespace quellan {

std::shared_ptr<AppDelegate> AppDelegate::create() { return std::make_shared<AppDelegate>(Passkey{}); }

AppDelegate::AppDelegate(Passkey) { platform::requireMainThread("AppDelegate::init"); }

void AppDelegate::applicationDidFinishLaunching() {
    platform::requireMainThread("AppDelegate::applicationDidFinishLaunching");
    statusItem_ = appkit::systemStatusBar().statusItemWithLength(appkit::kVariableStatusItemLength);
    // Shown at once, before anything is known: the untrusted look.
    rebuildMenu();

    auto source = std::make_shared<AccessibilityWindowSource>();
    monitor_ = WindowMonitor::create(std::move(source), platform::standardUserDefaults());
    // Weakly: the monitor must never keep the delegate alive.
    monitor_->onStateChange = [weak = weak_from_this()](const MonitorState& state) {
        if (const auto self = weak.lock()) self->state_ = state;
        if (const auto self = weak.lock()) self->rebuildMenu();
    };
    monitor_->start();
}

void AppDelegate::applicationWillTerminate() {
    platform::requireMainThread("AppDelegate::applicationWillTerminate");
    if (monitor_) monitor_->stop();
}

void AppDelegate::menuWillOpen() {
    if (monitor_) monitor_->setDurationsShown(true);
}

void AppDelegate::menuDidClose() {
    if (monitor_) monitor_->setDurationsShown(false);
}

} // namespace quellan
