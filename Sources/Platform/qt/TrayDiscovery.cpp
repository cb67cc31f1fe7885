// Finding a tray, a status notifier host over D-Bus or the XEmbed tray's
// selection on Qt's own X connection, and that connection's root events.
#include "Platform/qt/FrameworkState.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace quellan::qt {

namespace {

// Asked without Qt's tray check, which remembers its first answer about
// D-Bus for the rest of the process: a panel that comes up after Quellan
// would otherwise never be used.
bool statusNotifierHostPresent() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.kde.StatusNotifierWatcher") << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(call, QDBus::Block, 500);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}

/// Qt's own X connection; null on any other platform.
xcb_connection_t* qtConnection() {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

/// The screen DISPLAY names.
int screenNumber() {
    int screen = 0;
    if (const char* display = std::getenv("DISPLAY")) {
        char* host = nullptr;
        int number = 0;
        if (xcb_parse_display(display, &host, &number, &screen) == 0) screen = 0;
        std::free(host);
    }
    return screen;
}

bool xembedTrayPresent() {
    xcb_connection_t* connection = qtConnection();
    if (connection == nullptr) return false;
    const int screen = screenNumber();
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
    if (atom == nullptr) return false;
    bool owned = false;
    if (atom->atom != XCB_NONE) {
        xcb_get_selection_owner_reply_t* owner =
            xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
        owned = owner != nullptr && owner->owner != XCB_NONE;
        std::free(owner);
    }
    std::free(atom);
    return owned;
}

} // namespace

bool systemTrayPresent() {
    return (statusNotifierHostPresent() || xembedTrayPresent()) && QSystemTrayIcon::isSystemTrayAvailable();
}

void QtFramework::State::waitForTray() {
    if (waiting) return;
    waiting = true;
    if (!saidWaiting) {
        saidWaiting = true;
        std::fprintf(stderr, "quellan: waiting for a system tray (status notifier host or XEmbed tray) to "
                             "appear\xE2\x80\xA6\n"
                             "quellan: no window is minimized until Quellan's icon can be shown; to quit, press "
                             "Ctrl+C here or run \"pkill -x quellan\"\n");
        if (!options.trayHint.empty()) {
            std::fprintf(stderr, "quellan: %s\n", options.trayHint.c_str());
            notifyDesktopLater(QString::fromStdString(options.trayHint), [](bool) {});
        }
        std::fflush(stderr);
    }
    trayPoll->start();
    if (observer) observer(true);
}

void QtFramework::State::pollTray() {
    if (!systemTrayPresent()) return;
    trayPoll->stop();
    waiting = false;
    showItems();
    if (observer) observer(false);
    app.launch();
}

void QtFramework::hearRootProperties(bool heard) {
    xcb_connection_t* connection = qtConnection();
    if (connection == nullptr) return;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber() && screens.rem > 1; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;
    std::optional<std::uint32_t>& kept = state_->rootEventsKept;
    if (heard == !kept.has_value()) return;
    std::uint32_t events = 0;
    if (heard) {
        events = *std::exchange(kept, std::nullopt);
    } else {
        xcb_get_window_attributes_reply_t* attributes =
            xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, root), nullptr);
        if (attributes == nullptr) return;
        kept = attributes->your_event_mask;
        events = *kept & ~XCB_EVENT_MASK_PROPERTY_CHANGE;
        std::free(attributes);
    }
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &events);
    xcb_flush(connection);
}

} // namespace quellan::qt
