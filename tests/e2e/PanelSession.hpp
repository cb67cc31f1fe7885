// A status notifier panel for the end-to-end tests: xfce4-panel, lxqt-panel
// or mate-panel holding only its tray, on a session bus of its own, and the
// menu calls such a panel makes, so a test can read and click Quellan's
// menu as it would.
#pragma once

#include "XTestEnvironment.hpp"

namespace quellan::e2e {

/// One row of a menu as a panel reads it.
struct MenuRow {
    int id = 0;
    std::string label;
    bool enabled = true;
    int toggleState = -1; ///< 1 checked, 0 not, -1 no check mark
    std::vector<MenuRow> children;
    bool operator==(const MenuRow&) const = default;
};

class PanelHost {
public:
    /// Starts the bus and `panel` (xfce4-panel, lxqt-panel or mate-panel),
    /// with `home` for their home, and waits until the panel hosts items;
    /// null with `error` set otherwise.
    static std::unique_ptr<PanelHost> start(const std::string& display, const std::string& home, std::string& error,
                                            const std::string& panel = "xfce4-panel");
    static bool isPanel(const std::string& name);
    ~PanelHost();
    const std::string& busAddress() const { return address_; }

    /// Finds the menu of the one item registered with the panel.
    bool findItem();
    /// Opens the item's menu as a panel does and reads it; it stays open until `closeMenu`.
    std::vector<MenuRow> menu();
    /// Reads the menu again, as a panel told of a change does.
    std::vector<MenuRow> layout();
    void closeMenu();
    /// How many times the item has told the panel its layout, or its rows'
    /// properties, changed since found.
    int layoutUpdates() { return countSignals().layout; }
    int propertyUpdates() { return countSignals().properties; }
    /// How many check marks the item has told the panel to drop.
    int checksDropped() { return countSignals().checksDropped; }
    /// Opens the menu, clicks the row labelled `label` and closes the menu;
    /// false if there is none, it is disabled, or the item refused the click.
    bool choose(const std::string& label);

private:
    std::string address_, service_, menuPath_;
    std::unique_ptr<x11::testing::Process> bus_, panel_; // the panel ends first
    std::unique_ptr<x11::testing::Process> monitor_;
    struct Signals {
        int layout = 0, properties = 0, checksDropped = 0;
    } signals_;
    std::string lastLine_;
    const Signals& countSignals();
};

} // namespace quellan::e2e
