#include "Platform/gnome/GnomeDesktop.hpp"

#include "Platform/gnome/ShellWindows.hpp"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <functional>
#include <system_error>

namespace quellan::gnome {
namespace {

// The extension's object lives on the shell's own connection, so it is
// asked through the shell's name, which no other program can hold while
// the shell runs; the name the extension owns only tells when it comes and goes.
const QString kService = QStringLiteral("org.gnome.Shell");
const QString kExtensionName = QStringLiteral("org.quellan.GnomeShell");
const QString kPath = QStringLiteral("/org/quellan/GnomeShell");
const QString kInterface = QStringLiteral("org.quellan.GnomeShell.Windows");
constexpr std::string_view kWindowsAnswer = "ua(tissubbb)att";
constexpr std::string_view kChangedSignature = "ua(tissubbb)atatat";
// A shell that takes longer than this over the window list is asked again;
// nothing waits meanwhile.
constexpr int kListTimeoutMs = 5000;
constexpr int kRetryMs = 2000;

std::vector<ShellWindows::Window> readWindows(const QVariant& value) {
    std::vector<ShellWindows::Window> windows;
    const auto argument = value.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        ShellWindows::Window& window = windows.emplace_back();
        qulonglong id = 0;
        QString windowClass, title;
        argument.beginStructure();
        argument >> id >> window.pid >> windowClass >> title >> window.kind >> window.minimized >> window.minimizable >>
            window.shown;
        argument.endStructure();
        window.id = id;
        window.windowClass = windowClass.toStdString();
        window.title = title.toStdString();
    }
    argument.endArray();
    return windows;
}

std::vector<std::uint64_t> readIds(const QVariant& value) {
    const auto ids = qdbus_cast<QList<qulonglong>>(value);
    return {ids.begin(), ids.end()};
}

bool signatureIs(const QDBusMessage& message, std::string_view signature) {
    return message.signature().toStdString() == signature;
}

} // namespace

// Hears the extension's signals; a QObject so that QtDBus can deliver them.
class ChangeListener : public QObject {
    Q_OBJECT
public:
    std::function<void(const QDBusMessage&)> onChanged;
public slots:
    void changed(const QDBusMessage& message) { onChanged(message); }
};

struct GnomeDesktop::Bus {
    explicit Bus(GnomeDesktop& desktop) : desktop(desktop), windows(desktop.model_) {}

    /// Asks for every window; while an answer is awaited, changes are in it.
    void list() {
        if (listing) return;
        listing = true;
        retry.stop();
        const auto call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetWindows"));
        auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(call, kListTimeoutMs), &listener);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &listener, [this](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            listing = false;
            listed(call->reply());
        });
    }

    void listed(const QDBusMessage& reply) {
        if (reply.type() == QDBusMessage::ErrorMessage) {
            const QString error = reply.errorName();
            if (error == QStringLiteral("org.freedesktop.DBus.Error.AccessDenied")) {
                become(Extension::refused);
            } else if (error == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
                       error == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner") ||
                       error == QStringLiteral("org.freedesktop.DBus.Error.UnknownObject") ||
                       error == QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod")) {
                become(Extension::absent);
            } else {
                // Busy or stopped: what was known stays until it answers.
                retry.start(kRetryMs);
            }
            return;
        }
        if (!signatureIs(reply, kWindowsAnswer)) {
            become(Extension::absent); // an extension of another make or version
            return;
        }
        const QList<QVariant> values = reply.arguments();
        windows.replace(values[0].toUInt(), readWindows(values[1]), readIds(values[2]), values[3].toULongLong());
        become(Extension::ready);
        if (std::exchange(pingAfterListing, false)) ping();
        desktop.model_.settleRequests();
        desktop.model_.tellChange();
    }

    void changed(const QDBusMessage& message) {
        // Sent before the answer awaited, a change is in it.
        if (desktop.extension_ != Extension::ready || listing || !signatureIs(message, kChangedSignature)) return;
        const QList<QVariant> values = message.arguments();
        ShellWindows::Change change{.serial = values[0].toUInt(),
                                    .windows = readWindows(values[1]),
                                    .closed = readIds(values[2]),
                                    .stacking = readIds(values[3]),
                                    .focus = readIds(values[4])};
        if (!windows.apply(std::move(change))) {
            list(); // one went missing: read everything again
            return;
        }
        desktop.model_.settleRequests();
        desktop.model_.tellChange();
    }

    void become(Extension state) {
        const Extension before = std::exchange(desktop.extension_, state);
        if (before == state) return;
        if (state == Extension::ready) {
            explainWhenKnown = false; // nothing is missing
            return desktop.model_.tellChange();
        }
        windows.forget();
        // A person asked (or the start did) before the answer came; or the extension went away.
        if (before == Extension::ready || std::exchange(explainWhenKnown, false)) desktop.explainAccess();
        desktop.model_.tellChange();
    }

    void ping() {
        const auto call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Ping"));
        auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(call), &listener);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &listener, [this](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            if (!call->isError()) return desktop.model_.requestsRead();
            // Unanswered in time: ask again once everything is read, unless the extension went (it is heard going).
            if (desktop.extension_ != Extension::ready) return;
            if (listing) return void(pingAfterListing = true);
            ping();
        });
    }

    GnomeDesktop& desktop;
    QDBusConnection connection = QDBusConnection::sessionBus();
    ChangeListener listener;
    QDBusServiceWatcher watcher;
    QTimer retry;
    ShellWindows windows;
    bool listing = false;
    // The start asks: told once the answer comes, whether or not an icon can be shown.
    bool explainWhenKnown = true;
    bool pingAfterListing = false;
};

GnomeDesktop::GnomeDesktop()
    : model_(*this, "GNOME Shell does not minimize windows when asked, so Quellan cannot keep the number of open "
                    "windows under the limit here. It will ask again now and then."),
      bus_(std::make_unique<Bus>(*this)) {
    model_.requests().setPingable(true);
    if (!bus_->connection.isConnected()) {
        // Said once the program has set where, as the answer would be.
        QTimer::singleShot(0, &bus_->listener, [this] { bus_->become(Extension::absent); });
        return;
    }
    Bus& bus = *bus_;
    bus.listener.onChanged = [&bus](const QDBusMessage& message) { bus.changed(message); };
    bus.connection.connect(kService, kPath, kInterface, QStringLiteral("Changed"), &bus.listener,
                           SLOT(changed(QDBusMessage)));
    bus.watcher.setConnection(bus.connection);
    bus.watcher.addWatchedService(kExtensionName);
    bus.watcher.setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(&bus.watcher, &QDBusServiceWatcher::serviceOwnerChanged, &bus.listener,
                     [&bus](const QString&, const QString&, const QString& owner) {
                         if (owner.isEmpty()) return bus.become(Extension::absent);
                         // A new owner is a new extension (enabled again, or the shell restarted).
                         bus.windows.forget();
                         bus.desktop.extension_ = Extension::unknown;
                         bus.list();
                     });
    bus.retry.setSingleShot(true);
    QObject::connect(&bus.retry, &QTimer::timeout, &bus.listener, [&bus] { bus.list(); });
    bus.list();
}

GnomeDesktop::~GnomeDesktop() = default;

void GnomeDesktop::explainAccess() {
    if (extension_ == Extension::unknown) {
        bus_->explainWhenKnown = true; // said once the shell has answered
        return;
    }
    if (extension_ == Extension::ready) return;
    // The start and the monitor's first look both ask; once is enough.
    const auto now = std::chrono::steady_clock::now();
    if (explained_ && explained_->first == extension_ && now - explained_->second < std::chrono::seconds(10)) return;
    explained_ = {extension_, now};
    model_.tell(accessHelp());
}

std::string GnomeDesktop::accessHelp() const {
    if (!bus_->connection.isConnected()) {
        return "there is no session bus, through which Quellan reaches its GNOME Shell extension; start Quellan "
               "from your GNOME session.";
    }
    if (extension_ == Extension::refused) {
        std::error_code error;
        const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
        return "Quellan's GNOME Shell extension answers only the installed Quellan program, and this one runs from " +
               (error ? std::string("elsewhere") : self.string()) +
               ". Start the installed one (quellan), or install this build with \"cmake --install\".";
    }
    return std::string("Quellan's GNOME Shell extension is not enabled, so Quellan cannot see any windows. Enable it "
                       "with \"gnome-extensions enable ") +
           kExtensionUuid +
           "\"; if it was installed since you logged in, log out and back in first (GNOME on Wayland loads newly "
           "installed extensions only at login). Quellan picks it up by itself once it runs.";
}

bool GnomeDesktop::mayMinimize(platform::DesktopModel::Key key) { return bus_->windows.has(key); }

bool GnomeDesktop::sendMinimize(platform::DesktopModel::Key key) {
    if (extension_ != Extension::ready) return false;
    auto call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Minimize"));
    call << static_cast<qulonglong>(key);
    // Its answer teaches nothing the Ping after it does not.
    return bus_->connection.send(call);
}

void GnomeDesktop::sendPing() { bus_->ping(); }

bool GnomeDesktop::settled() { return !bus_->listing; }

} // namespace quellan::gnome

#include "GnomeDesktop.moc"
