# Qt 6 tray, timer and settings: filled in by the Qt backend.
