#include "Platform/simulated/SimulatedFramework.hpp"

namespace quellan::simulated {

bool SimulatedStatusItem::choose(std::string_view title, std::string_view parent) {
    const appkit::Menu* current = menu();
    if (current == nullptr) return false;
    // Held while the action runs: a command may set a new menu meanwhile.
    const auto held = menus.back();
    const appkit::Menu* searched = current;
    if (!parent.empty()) {
        searched = nullptr;
        for (const auto& item : current->items()) {
            if (item.title == parent && item.submenu) searched = item.submenu.get();
        }
        if (searched == nullptr) return false;
    }
    for (const auto& item : searched->items()) {
        if (!item.isSeparator && item.title == title) {
            const appkit::MenuItem chosen = item;
            return appkit::performActionForItem(chosen);
        }
    }
    return false;
}

std::optional<appkit::Image> SimulatedFramework::imageWithSystemSymbolName(std::string_view name,
                                                                           std::string_view accessibilityDescription) {
    if (!knownSymbols.contains(name)) return std::nullopt;
    return appkit::Image{std::string(name), std::string(accessibilityDescription)};
}

void SimulatedFramework::setDelegate(std::weak_ptr<appkit::ApplicationDelegate> delegate) {
    events.push_back("setDelegate");
    delegate_ = std::move(delegate);
}

bool SimulatedFramework::setActivationPolicy(workspace::ActivationPolicy policy) {
    events.push_back("setActivationPolicy");
    activationPolicy = policy;
    return true;
}

void SimulatedFramework::run() {
    events.push_back("run");
    if (auto delegate = delegate_.lock()) {
        launched = true;
        delegate->applicationDidFinishLaunching();
    }
    if (whileRunning && !terminated) whileRunning();
    events.push_back("run returned");
}

void SimulatedFramework::terminate() {
    events.push_back("terminate");
    if (auto delegate = delegate_.lock()) delegate->applicationWillTerminate();
    terminated = true;
}

std::shared_ptr<appkit::StatusItem> SimulatedFramework::statusItemWithLength(double length) {
    auto item = std::make_shared<SimulatedStatusItem>(length, statusItemsHaveButtons);
    statusItems.push_back(item);
    return item;
}

} // namespace quellan::simulated
