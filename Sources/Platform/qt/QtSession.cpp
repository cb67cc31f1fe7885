// What the framework asks of the desktop session outside Qt: whether the
// display can be reached before Qt tries, and the notification service.
#include "Platform/qt/FrameworkState.hpp"
#include "Platform/x11/ConnectionProblem.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QStringList>
#include <QVariantMap>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quellan::qt {

namespace {

bool nonEmpty(const char* value) { return value != nullptr && value[0] != '\0'; }

} // namespace

// Qt ends the process with advice about reinstalling when it finds no
// display; say instead what is missing.
bool displayReachable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (nonEmpty(platform) && std::strncmp(platform, "xcb", 3) != 0) return true;
    const char* display = std::getenv("DISPLAY");
    if (!nonEmpty(display)) {
        if (!nonEmpty(platform) && nonEmpty(std::getenv("WAYLAND_DISPLAY"))) return true;
        std::fprintf(stderr, "quellan: no graphical session found (DISPLAY is not set); "
                             "start Quellan from within your desktop session\n");
        return false;
    }
    // Qt aborts on a display it cannot use, a screen the server lacks
    // included; xcb checks the screen only when asked for its number.
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(display, &screen);
    const int error = xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    if (error != 0) {
        std::fprintf(stderr,
                     "quellan: cannot connect to the X display %s: %s; start Quellan from within your "
                     "desktop session\n",
                     display, x11::connectionProblem(error).c_str());
    }
    return error == 0;
}

namespace {

QDBusMessage notification(const QString& text) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Quellan") << 0u << QStringLiteral("quellan") << QStringLiteral("Quellan") << text
         << QStringList() << QVariantMap() << -1;
    return call;
}

} // namespace

bool QtFramework::notifyDesktop(const std::string& text) {
    return QDBusConnection::sessionBus().call(notification(QString::fromStdString(text)), QDBus::Block, 1000).type() ==
           QDBusMessage::ReplyMessage;
}

void QtFramework::State::notifyDesktopLater(const QString& text, std::function<void(bool)> done) {
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notification(text)), application.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, application.get(),
                     [done = std::move(done)](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         done(!call->isError());
                     });
}

} // namespace quellan::qt
