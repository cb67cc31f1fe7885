// What kind of window a desktop says a window is: its subrole, and whether it counts.
#pragma once

namespace quellan::platform {

enum class WindowKind {
    standard,   ///< a normal, non-transient application window
    dialog,     ///< a dialog, or any window transient for another
    floating,   ///< utility palettes, toolbars, torn-off menus
    auxiliary,  ///< splash screens and normal windows kept off the taskbar
    desktopPart ///< docks, panels, desktop backgrounds and popups: never listed
};

} // namespace quellan::platform
