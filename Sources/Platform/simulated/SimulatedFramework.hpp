// A framework backend that records the status items and every menu set on
// them, and lets a test choose menu items as a user would.
#pragma once

#include "Platform/AppKit.hpp"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace quellan::simulated {

class SimulatedStatusItem final : public appkit::StatusItem, private appkit::StatusBarButton {
public:
    explicit SimulatedStatusItem(double length, bool hasButton) : length(length), hasButton_(hasButton) {}

    appkit::StatusBarButton* button() override { return hasButton_ ? this : nullptr; }
    void setMenu(std::shared_ptr<const appkit::Menu> menu) override { menus.push_back(std::move(menu)); }

    const double length;
    std::optional<appkit::Image> image;
    std::string title;
    std::string toolTip;
    /// Every menu set, the current one last.
    std::vector<std::shared_ptr<const appkit::Menu>> menus;
    int buttonUpdates = 0;

    const appkit::Menu* menu() const { return menus.empty() ? nullptr : menus.back().get(); }
    /// Chooses the current menu's item with this title (in the submenu of
    /// `parent` when given), as a click would. Returns whether an action was sent.
    bool choose(std::string_view title, std::string_view parent = {});

private:
    void setImage(const std::optional<appkit::Image>& newImage) override {
        image = newImage;
        ++buttonUpdates;
    }
    void setTitle(const std::string& newTitle) override { title = newTitle; }
    void setToolTip(const std::string& newToolTip) override { toolTip = newToolTip; }

    bool hasButton_;
};

class SimulatedFramework final : public appkit::FrameworkBackend,
                                 private appkit::Application,
                                 private appkit::StatusBar {
public:
    appkit::Application& sharedApplication() override { return *this; }
    appkit::StatusBar& systemStatusBar() override { return *this; }
    std::optional<appkit::Image> imageWithSystemSymbolName(std::string_view name,
                                                           std::string_view accessibilityDescription) override;

    // --- scripting -------------------------------------------------------
    /// Symbol names the framework can make images of.
    std::set<std::string, std::less<>> knownSymbols{"macwindow.on.rectangle", "exclamationmark.triangle"};
    /// Whether new status items have a button.
    bool statusItemsHaveButtons = true;
    /// What happens inside `run()` after launching, as the user would do it;
    /// `run()` returns when it is done or when the application terminated.
    std::function<void()> whileRunning;

    // --- observation -----------------------------------------------------
    std::vector<std::shared_ptr<SimulatedStatusItem>> statusItems;
    std::optional<workspace::ActivationPolicy> activationPolicy;
    bool launched = false;
    bool terminated = false;
    /// The application's calls in order: "setDelegate", "run", "terminate", ...
    std::vector<std::string> events;
    std::weak_ptr<appkit::ApplicationDelegate> delegate() const { return delegate_; }

private:
    void setDelegate(std::weak_ptr<appkit::ApplicationDelegate> delegate) override;
    bool setActivationPolicy(workspace::ActivationPolicy policy) override;
    void run() override;
    void terminate() override;
    std::shared_ptr<appkit::StatusItem> statusItemWithLength(double length) override;

    std::weak_ptr<appkit::ApplicationDelegate> delegate_;
};

} // namespace quellan::simulated
