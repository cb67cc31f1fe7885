#include "Quellan/Launch.hpp"

#include "Platform/AppKit.hpp"
#include "Platform/MainThread.hpp"
#include "Quellan/AppDelegate.hpp"

namespace quellan {

int runApplication() {
    platform::requireMainThread("runApplication");
    appkit::Application& application = appkit::sharedApplication();
    // This local keeps the delegate alive for the whole run; the
    // application only holds it weakly.
    const std::shared_ptr<AppDelegate> delegate = AppDelegate::create();
    application.setDelegate(delegate);
    (void)application.setActivationPolicy(workspace::ActivationPolicy::accessory);
    application.run();
    return 0;
}

} // namespace quellan
