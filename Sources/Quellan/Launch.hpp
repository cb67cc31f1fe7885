// The program's start over whichever backends are installed.
#pragma once

namespace quellan {

/// Takes the shared application, gives it a new delegate, makes it an
/// accessory (no taskbar entry, no main window) and runs its event loop.
/// Returns 0 when the application has ended.
int runApplication();

} // namespace quellan
