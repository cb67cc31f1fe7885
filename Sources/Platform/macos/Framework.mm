// The application over NSApplication and its status items over NSStatusItem
// in the menu bar, with the delegate and menu objects that bridge AppKit's
// callbacks to the layer's C++ objects.
#include "Platform/MainThread.hpp"
#include "Platform/SignalPipe.hpp"
#include "Platform/macos/MacDesktop.hpp"
#include "Platform/macos/MacInternal.hpp"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace quellan::mac {
class MacApplication;
class MacStatusItem;
} // namespace quellan::mac

// NSApplication's delegate, which it holds weakly: the application object keeps it.
@interface QuellanApplicationDelegate : NSObject <NSApplicationDelegate> {
@public
    quellan::mac::MacApplication* owner;
}
@end

// The delegate of a status item's menu, to know when it is open.
@interface QuellanMenuObserver : NSObject <NSMenuDelegate> {
@public
    quellan::mac::MacStatusItem* owner;
}
- (void)applyPendingMenu;
@end

// Reads the pipe the termination signal handler writes to, on the main thread.
@interface QuellanSignalWatcher : NSObject {
@public
    quellan::mac::MacApplication* owner;
    quellan::platform::SignalPipe* signalPipe;
    NSFileHandle* handle;
}
- (void)signalArrived:(NSNotification*)notification;
@end

namespace quellan::mac {
namespace {

// Status items alive, to close their menus when the application ends.
std::vector<MacStatusItem*> liveItems;

constexpr int kHandledSignals[] = {SIGTERM, SIGINT, SIGHUP};

NSApplicationActivationPolicy nativePolicy(workspace::ActivationPolicy policy) {
    switch (policy) {
    case workspace::ActivationPolicy::regular:
        return NSApplicationActivationPolicyRegular;
    case workspace::ActivationPolicy::accessory:
        return NSApplicationActivationPolicyAccessory;
    case workspace::ActivationPolicy::prohibited:
        return NSApplicationActivationPolicyProhibited;
    }
    return NSApplicationActivationPolicyAccessory;
}

} // namespace

class MacStatusItem final : public appkit::StatusItem, public appkit::StatusBarButton {
public:
    explicit MacStatusItem(double length)
        : item_([[NSStatusBar systemStatusBar]
              statusItemWithLength:length == appkit::kVariableStatusItemLength ? NSVariableStatusItemLength : length]),
          observer_([[QuellanMenuObserver alloc] init]) {
        observer_->owner = this;
        // The symbol and the limit side by side.
        [[item_ button] setImagePosition:NSImageLeft];
        liveItems.push_back(this);
    }

    ~MacStatusItem() override {
        std::erase(liveItems, this);
        observer_->owner = nullptr;
        if (menuOpen_) [[item_ menu] cancelTracking];
        [[NSStatusBar systemStatusBar] removeStatusItem:item_];
    }

    MacStatusItem(const MacStatusItem&) = delete;
    MacStatusItem& operator=(const MacStatusItem&) = delete;

    appkit::StatusBarButton* button() override { return [item_ button] != nil ? this : nullptr; }

    // A menu a person has open stays as it is: the state is published
    // several times a second, and swapping the menu under the pointer would
    // at best show nothing new. The newest model replaces it once it closes.
    void setMenu(std::shared_ptr<const appkit::Menu> menu) override {
        platform::requireMainThread("StatusItem::setMenu");
        if (menuOpen_) {
            pending_ = std::move(menu);
            return;
        }
        pending_.reset();
        // Most publications bring nothing new: the menu bar keeps its menu.
        if (menu && model_ && appkit::compareMenus(*menu, *model_) == appkit::MenuDifference::none) return;
        model_ = menu;
        @autoreleasepool {
            NSMenu* native = menu ? buildMenu(*menu) : nil;
            [native setDelegate:observer_];
            [item_ setMenu:native];
        }
    }

    void setImage(const std::optional<appkit::Image>& image) override {
        @autoreleasepool {
            NSImage* symbol = nil;
            if (image) {
                symbol = [NSImage imageWithSystemSymbolName:nsString(image->symbolName)
                                   accessibilityDescription:nsString(image->accessibilityDescription)];
                // Drawn in the menu bar's own colours, light or dark.
                [symbol setTemplate:YES];
            }
            [[item_ button] setImage:symbol];
        }
    }

    void setTitle(const std::string& title) override {
        @autoreleasepool {
            [[item_ button] setTitle:nsString(title)];
        }
    }

    void setToolTip(const std::string& toolTip) override {
        @autoreleasepool {
            [[item_ button] setToolTip:nsString(toolTip)];
        }
    }

    void menuWillOpen() { menuOpen_ = true; }

    void menuDidClose() {
        menuOpen_ = false;
        if (!pending_) return;
        // Later: AppKit sends the chosen item's action after this returns,
        // and that item belongs to the menu a replacement would drop.
        [observer_ performSelector:@selector(applyPendingMenu)
                        withObject:nil
                        afterDelay:0
                           inModes:@[ NSRunLoopCommonModes ]];
    }

    void applyPendingMenu() {
        if (!pending_ || menuOpen_) return;
        auto pending = std::move(*pending_);
        pending_.reset();
        setMenu(std::move(pending));
    }

    void closeMenu() {
        if (menuOpen_) [[item_ menu] cancelTracking];
    }

private:
    NSStatusItem* item_;
    QuellanMenuObserver* observer_;
    bool menuOpen_ = false;
    /// The model to show once the open menu closes (null: no menu).
    std::optional<std::shared_ptr<const appkit::Menu>> pending_;
    /// The model the status item's menu was built from.
    std::shared_ptr<const appkit::Menu> model_;
};

class MacApplication final : public appkit::Application {
public:
    MacApplication() : bridge_([[QuellanApplicationDelegate alloc] init]) { bridge_->owner = this; }
    ~MacApplication() override {
        bridge_->owner = nullptr;
        if ([NSApp delegate] == bridge_) [NSApp setDelegate:nil];
    }
    MacApplication(const MacApplication&) = delete;
    MacApplication& operator=(const MacApplication&) = delete;

    void setDelegate(std::weak_ptr<appkit::ApplicationDelegate> delegate) override { delegate_ = std::move(delegate); }

    bool setActivationPolicy(workspace::ActivationPolicy policy) override {
        return [NSApp setActivationPolicy:nativePolicy(policy)];
    }

    void run() override {
        platform::requireMainThread("Application::run");
        if (terminating_) return;
        [NSApp setDelegate:bridge_];
        // Sends applicationDidFinishLaunching: the first time only.
        [NSApp run];
    }

    void terminate() override {
        platform::requireMainThread("Application::terminate");
        if (terminating_) return;
        terminating_ = true;
        willTerminate();
        // A menu's tracking loop would hold the event loop until the menu closed.
        for (MacStatusItem* item : std::vector<MacStatusItem*>(liveItems))
            item->closeMenu();
        // Not [NSApp terminate:], which would end the process before run()
        // returned to main. stop: takes effect after the event being
        // handled, so one more event follows for a stop from a timer tick.
        [NSApp stop:nil];
        @autoreleasepool {
            NSEvent* wake = [NSEvent otherEventWithType:NSEventTypeApplicationDefined
                                               location:NSZeroPoint
                                          modifierFlags:0
                                              timestamp:0
                                           windowNumber:0
                                                context:nil
                                                subtype:0
                                                  data1:0
                                                  data2:0];
            [NSApp postEvent:wake atStart:YES];
        }
    }

    void didFinishLaunching() {
        if (launched_) return;
        launched_ = true;
        if (const auto delegate = delegate_.lock()) delegate->applicationDidFinishLaunching();
    }

    /// Once, whether the end comes from terminate() or from the system.
    void willTerminate() {
        if (toldWillTerminate_) return;
        toldWillTerminate_ = true;
        terminating_ = true;
        if (const auto delegate = delegate_.lock()) delegate->applicationWillTerminate();
    }

private:
    std::weak_ptr<appkit::ApplicationDelegate> delegate_;
    QuellanApplicationDelegate* bridge_;
    bool launched_ = false;
    bool terminating_ = false;
    bool toldWillTerminate_ = false;
};

class MacStatusBar final : public appkit::StatusBar {
public:
    std::shared_ptr<appkit::StatusItem> statusItemWithLength(double length) override {
        platform::requireMainThread("StatusBar::statusItemWithLength");
        @autoreleasepool {
            return std::make_shared<MacStatusItem>(length);
        }
    }
};

namespace {

bool frameworkExists = false;

} // namespace

class MacFramework final : public appkit::FrameworkBackend {
public:
    MacFramework() {
        frameworkExists = true;
        installSignalHandlers();
    }

    ~MacFramework() override {
        restoreSignalHandlers();
        frameworkExists = false;
    }

    MacFramework(const MacFramework&) = delete;
    MacFramework& operator=(const MacFramework&) = delete;

    appkit::Application& sharedApplication() override { return application_; }
    appkit::StatusBar& systemStatusBar() override { return bar_; }

    std::optional<appkit::Image> imageWithSystemSymbolName(std::string_view name,
                                                           std::string_view accessibilityDescription) override {
        @autoreleasepool {
            if ([NSImage imageWithSystemSymbolName:nsString(name)
                          accessibilityDescription:nsString(accessibilityDescription)] == nil) {
                return std::nullopt;
            }
        }
        return appkit::Image{std::string(name), std::string(accessibilityDescription)};
    }

private:
    // The handler only writes to a pipe; the main run loop reads it in every
    // mode and ends the program through terminate(), so the delegate hears
    // of it as of any other quit.
    void installSignalHandlers() {
        signalPipe_ = platform::SignalPipe::install(kHandledSignals);
        if (!signalPipe_) return;
        @autoreleasepool {
            watcher_ = [[QuellanSignalWatcher alloc] init];
            watcher_->owner = &application_;
            watcher_->signalPipe = signalPipe_.get();
            watcher_->handle = [[NSFileHandle alloc] initWithFileDescriptor:signalPipe_->descriptor()
                                                             closeOnDealloc:NO];
            [[NSNotificationCenter defaultCenter] addObserver:watcher_
                                                     selector:@selector(signalArrived:)
                                                         name:NSFileHandleDataAvailableNotification
                                                       object:watcher_->handle];
            [watcher_->handle waitForDataInBackgroundAndNotifyForModes:@[ NSRunLoopCommonModes ]];
        }
    }

    void restoreSignalHandlers() {
        if (watcher_ == nil) return;
        signalPipe_->restoreHandlers();
        [[NSNotificationCenter defaultCenter] removeObserver:watcher_];
        watcher_->owner = nullptr;
        watcher_->signalPipe = nullptr;
        watcher_->handle = nil;
        watcher_ = nil;
        signalPipe_.reset();
    }

    MacApplication application_;
    MacStatusBar bar_;
    std::unique_ptr<platform::SignalPipe> signalPipe_;
    QuellanSignalWatcher* watcher_ = nil;
};

std::unique_ptr<appkit::FrameworkBackend> makeFramework() {
    platform::requireMainThread("makeFramework");
    if (frameworkExists) {
        std::fprintf(stderr, "quellan: programming error: a second macOS framework was made while one exists\n");
        std::abort();
    }
    @autoreleasepool {
        // Made here, so that NSApp exists for everything that follows.
        [NSApplication sharedApplication];
    }
    return std::make_unique<MacFramework>();
}

} // namespace quellan::mac

@implementation QuellanApplicationDelegate
- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    (void)notification;
    if (owner != nullptr) owner->didFinishLaunching();
}

// A quit from the system (log out, restart, Activity Monitor) ends the
// process after this returns; terminate() has told the delegate already
// when the quit was Quellan's own.
- (void)applicationWillTerminate:(NSNotification*)notification {
    (void)notification;
    if (owner != nullptr) owner->willTerminate();
}
@end

@implementation QuellanMenuObserver
- (void)menuWillOpen:(NSMenu*)menu {
    (void)menu;
    if (owner != nullptr) owner->menuWillOpen();
}

- (void)menuDidClose:(NSMenu*)menu {
    (void)menu;
    if (owner != nullptr) owner->menuDidClose();
}

- (void)applyPendingMenu {
    if (owner != nullptr) owner->applyPendingMenu();
}
@end

@implementation QuellanSignalWatcher
- (void)signalArrived:(NSNotification*)notification {
    (void)notification;
    if (signalPipe == nullptr) return;
    signalPipe->drain();
    // Back to the previous handlers first: a second signal ends the process
    // at once should the orderly end get stuck.
    signalPipe->restoreHandlers();
    if (owner != nullptr) owner->terminate();
}
@end
