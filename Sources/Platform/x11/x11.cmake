# X11 window access: filled in by the X11 backend.
