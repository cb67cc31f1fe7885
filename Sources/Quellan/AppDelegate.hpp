// The application delegate: launches the monitor, shows its state in the
// status item and menu, and carries out the menu commands.
#pragma once

#include "Platform/AppKit.hpp"
#include "Quellan/WindowMonitor.hpp"

#include <memory>
#include <string>

namespace quellan {

class AppDelegate final : public appkit::ApplicationDelegate,
                          public appkit::MenuTarget,
                          public appkit::MenuDelegate,
                          public std::enable_shared_from_this<AppDelegate> {
    struct Passkey {};

public:
    /// Selectors of the menu commands.
    static constexpr std::string_view selectLimitSelector = "selectLimit:";
    static constexpr std::string_view selectInactiveMinutesSelector = "selectInactiveMinutes:";
    static constexpr std::string_view grantAccessibilityAccessSelector = "grantAccessibilityAccess";
    static constexpr std::string_view openAccessibilitySettingsSelector = "openAccessibilitySettings";
    static constexpr std::string_view checkNowSelector = "checkNow";
    static constexpr std::string_view quitApplicationSelector = "quitApplication";

    /// Where the system keeps the accessibility permission.
    static constexpr std::string_view accessibilitySettingsURL =
        "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

    /// Menu items hold their target weakly, so the delegate lives in a shared pointer.
    static std::shared_ptr<AppDelegate> create();
    explicit AppDelegate(Passkey);

    /// Status item first (shown at once, in the untrusted look), then the
    /// source and the monitor, the state callback, and the monitor's start.
    void applicationDidFinishLaunching() override;
    /// Stops the monitor's timer; settings are already written.
    void applicationWillTerminate() override;
    /// Dispatches a chosen menu item's selector to its command.
    void performAction(std::string_view selector, const appkit::MenuItem& sender) override;
    /// The menu shows how long each window has been open: current while it is.
    void menuWillOpen() override;
    void menuDidClose() override;

    /// Whole seconds as the active-window rows show them: "59s", "1m 15s", "25h 0m".
    static std::string formatDuration(std::int64_t seconds);

private:
    friend struct AppDelegateTestAccess;

    void rebuildMenu();
    std::string inactiveTooltipSuffix() const;
    std::shared_ptr<appkit::Menu> activeWindowsMenu() const;

    void selectLimit(const appkit::MenuItem& sender);
    void selectInactiveMinutes(const appkit::MenuItem& sender);
    void grantAccessibilityAccess();
    void openAccessibilitySettings();
    void checkNow();
    void quitApplication();

    std::shared_ptr<appkit::StatusItem> statusItem_;
    std::shared_ptr<WindowMonitor> monitor_;
    MonitorState state_;
};

} // namespace quellan
