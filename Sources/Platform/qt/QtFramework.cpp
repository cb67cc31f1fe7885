// The application over QApplication and its status items over
// QSystemTrayIcon. Qt picks the tray: a status notifier host over D-Bus
// when one is registered, the XEmbed tray otherwise.
#include "Platform/MainThread.hpp"
#include "Platform/qt/MenuExporter.hpp"
#include "Platform/qt/QtDesktop.hpp"
#include "Platform/qt/QtInternal.hpp"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QMenu>
#include <QPointer>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quellan::qt {

class QtStatusItem;

namespace {

// Ends the program cleanly on the signals a session or a terminal sends,
// and hears of a second start (SIGUSR1): the handler only writes the
// signal's number to a pipe the event loop watches.
int signalPipe[2] = {-1, -1};
constexpr int kHandledSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1};

// What a status item without a menu shows.
const appkit::Menu kNoMenu;

// Time for a tray to embed a new icon, whose place a message is shown by.
constexpr std::chrono::milliseconds kNoticeDelay(500);

extern "C" void onSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t ignored = write(signalPipe[1], &byte, 1);
    errno = saved;
}

// Qt ends the process with exit() when the display goes away. A framework
// still alive at exit means that, or something like it, happened.
bool frameworkAlive = false;

void sayIfEndedWhileRunning() {
    if (!frameworkAlive) return;
    std::fprintf(stderr, "quellan: stopped while still running (was the connection to the display lost?); "
                         "start Quellan again to go on limiting windows\n");
}

bool nonEmpty(const char* value) { return value != nullptr && value[0] != '\0'; }

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
    if (error == XCB_CONN_CLOSED_INVALID_SCREEN) {
        std::fprintf(stderr,
                     "quellan: the X display %s has no such screen; start Quellan from within your "
                     "desktop session\n",
                     display);
    } else if (error != 0) {
        std::fprintf(stderr,
                     "quellan: cannot connect to the X display %s; start Quellan from within your "
                     "desktop session\n",
                     display);
    }
    return error == 0;
}

class QtApplication final : public appkit::Application {
public:
    void setDelegate(std::weak_ptr<appkit::ApplicationDelegate> delegate) override { delegate_ = std::move(delegate); }

    // Without a window Quellan never has a taskbar entry; it cannot be a
    // regular application that has one.
    bool setActivationPolicy(workspace::ActivationPolicy policy) override {
        return policy != workspace::ActivationPolicy::regular;
    }

    void run() override {
        platform::requireMainThread("Application::run");
        if (terminating_) return;
        if (!launched_) QTimer::singleShot(0, QCoreApplication::instance(), [this] { requestLaunch(); });
        QApplication::exec();
    }

    void terminate() override {
        platform::requireMainThread("Application::terminate");
        if (terminating_) return;
        terminating_ = true;
        if (const auto delegate = delegate_.lock()) delegate->applicationWillTerminate();
        // Also leaves any nested loop, such as an open menu's.
        QCoreApplication::exit(0);
    }

    /// Called once the event loop runs (the framework always sets it), to
    /// call `launch` now or later: the program must not act on windows
    /// before its icon can be shown.
    std::function<void()> requestLaunch;

    /// Tells the delegate that launching has finished, once.
    void launch() {
        if (launched_ || terminating_) return;
        launched_ = true;
        if (const auto delegate = delegate_.lock()) delegate->applicationDidFinishLaunching();
    }

private:
    std::weak_ptr<appkit::ApplicationDelegate> delegate_;
    bool launched_ = false;
    bool terminating_ = false;
};

class QtStatusBar final : public appkit::StatusBar {
public:
    explicit QtStatusBar(QtFramework::State& state) : state_(state) {}
    std::shared_ptr<appkit::StatusItem> statusItemWithLength(double length) override;

private:
    QtFramework::State& state_;
};

} // namespace

struct QtFramework::State {
    FrameworkOptions options;
    std::unique_ptr<QApplication> application;
    QtApplication app;
    QtStatusBar bar{*this};
    std::vector<QtStatusItem*> items;
    QTimer* trayPoll = nullptr;
    bool waiting = false;
    bool saidWaiting = false;
    std::function<void(bool)> observer;
    std::vector<QString> notices;
    std::function<void()> anotherStart;
    QSocketNotifier* signalNotifier = nullptr;
    /// Qt's own selection on the root, while its property changes go unheard.
    std::optional<std::uint32_t> rootEventsKept;
    struct sigaction previous[std::size(kHandledSignals)] = {};

    void place(QtStatusItem& item);
    void waitForTray();
    void pollTray();
    void installSignalHandlers();
    void restoreSignalHandlers();
};

// The tray icon itself is made only once a tray is there: Qt settles on
// D-Bus or XEmbed when the first one is made, and keeps to that choice.
class QtStatusItem final : public appkit::StatusItem, public appkit::StatusBarButton {
public:
    explicit QtStatusItem(QtFramework::State& owner) : owner_(&owner) {
        owner.items.push_back(this);
        refreshIcon();
    }

    ~QtStatusItem() override {
        if (owner_ != nullptr) std::erase(owner_->items, this);
        detach();
    }

    // Called when the framework goes before the item: Qt objects cannot
    // outlive the application.
    void detach() {
        owner_ = nullptr;
        icon_ = QIcon();
        exporter_.reset();
        // Emptied first: a destroyed menu leaves the rows of its exported copy behind.
        if (menu_) internal::updateMenu(*menu_, appkit::Menu());
        delete menu_.data();
        delete tray_.data();
    }

    appkit::StatusBarButton* button() override { return this; }

    // One QMenu serves for the item's life: a panel drawing the menu from
    // its exported copy follows changes to that menu, never a new one. Most
    // publications change nothing, or only the labels (the durations of
    // the active windows tick every second): a closed menu is retitled as
    // it opens, since updating it each time would be most of an idle
    // Quellan's work. Any other change to a menu a person has open waits
    // until it closes: rows moving under the pointer would be chosen by
    // mistake. A menu that has been open and closed is brought up to date:
    // Qt toggles the check of a chosen row. A panel served by the exporter
    // is told of each change at once, in one or two signals.
    void setMenu(std::shared_ptr<const appkit::Menu> menu) override {
        platform::requireMainThread("StatusItem::setMenu");
        if (owner_ == nullptr) return;
        if (exporter_) exporter_->show(menu ? *menu : kNoMenu);
        const bool open = menu_ && menu_->isVisible();
        if (menu && model_ && menu_ && !pending_ && (open || !menuShown_)) {
            const auto difference = appkit::compareMenus(*menu, *model_);
            if (difference != appkit::MenuDifference::other) {
                if (difference == appkit::MenuDifference::labelTitles) {
                    titlesBehind_ = !open;
                    if (open) internal::updateMenu(*menu_, *menu);
                }
                model_ = std::move(menu);
                return;
            }
        }
        if (open) {
            pending_ = std::move(menu);
            return;
        }
        pending_.reset();
        model_ = menu;
        menuShown_ = false;
        titlesBehind_ = false;
        internal::updateMenu(ensureMenu(), menu ? *menu : kNoMenu);
    }

    QMenu& ensureMenu() {
        if (menu_) return *menu_;
        menu_ = internal::buildMenu(appkit::Menu());
        QObject::connect(menu_, &QMenu::aboutToShow, menu_, [this] {
            // Told first: what it publishes in return is what the menu shows.
            if (const auto delegate = menuDelegate()) delegate->menuWillOpen();
            if (std::exchange(titlesBehind_, false) && model_) internal::updateMenu(*menu_, *model_);
        });
        // Marked as it closes, not as it opens: a panel drawing Qt's copy never
        // shows the QMenu itself, and changing the menu it has open would
        // change the rows it is about to click. Queued: the menu hides before
        // the chosen action is delivered.
        QObject::connect(menu_, &QMenu::aboutToHide, menu_, [this] {
            menuShown_ = true;
            if (const auto delegate = menuDelegate()) delegate->menuDidClose();
            QMetaObject::invokeMethod(
                menu_, [this] { applyPendingMenu(); }, Qt::QueuedConnection);
        });
        if (tray_) tray_->setContextMenu(menu_);
        return *menu_;
    }

    void applyPendingMenu() {
        if (!pending_ || (menu_ && menu_->isVisible())) return;
        auto pending = std::move(*pending_);
        setMenu(std::move(pending));
    }

    // Unchanged values are not drawn again: the state is published several
    // times a second, and drawing the icon is the dearest part of it.
    void setImage(const std::optional<appkit::Image>& image) override {
        if (image == image_) return;
        image_ = image;
        refreshIcon();
        refreshToolTip();
    }

    void setTitle(const std::string& title) override {
        if (title == title_) return;
        title_ = title;
        refreshIcon();
    }

    void setToolTip(const std::string& toolTip) override {
        if (toolTip == toolTip_) return;
        toolTip_ = toolTip;
        refreshToolTip();
    }

    void show() {
        if (owner_ == nullptr || tray_) return;
        tray_ = new QSystemTrayIcon();
        // A status item opens its menu on a plain click too; the context
        // menu alone would need the other button.
        QObject::connect(tray_, &QSystemTrayIcon::activated, tray_, [this](QSystemTrayIcon::ActivationReason reason) {
            // Not on Wayland, where a program cannot place a popup of its own
            // and the host draws the exported menu itself.
            if (reason == QSystemTrayIcon::Trigger && model_ && QGuiApplication::platformName() != u"wayland")
                menu_->popup(QCursor::pos());
        });
        tray_->setIcon(icon_);
        tray_->setToolTip(toolTip());
        tray_->setContextMenu(&ensureMenu());
        tray_->show();
        // Under a status notifier host, the menu the panel draws is served
        // by the exporter; the QMenu is still what a click on the icon
        // pops up where Quellan can place a popup of its own.
        exporter_ = internal::MenuExporter::replaceExportOf(*menu_);
        if (exporter_) {
            exporter_->willOpen = [this] {
                if (const auto delegate = menuDelegate()) delegate->menuWillOpen();
            };
            exporter_->didClose = [this] {
                if (const auto delegate = menuDelegate()) delegate->menuDidClose();
            };
            exporter_->show(model_ ? *model_ : kNoMenu);
        }
        // Once a tray has had time to embed the icon, which places the
        // message; in one message, as a new one replaces the last.
        QTimer::singleShot(kNoticeDelay, tray_, [this] {
            if (owner_ == nullptr || owner_->notices.empty()) return;
            showNotice(QStringList(owner_->notices.begin(), owner_->notices.end()).join(QStringLiteral("\n\n")));
            owner_->notices.clear();
        });
    }

    void showNotice(const QString& text) {
        tray_->showMessage(QStringLiteral("Quellan"), text, QSystemTrayIcon::Warning, 20000);
    }

    QSystemTrayIcon* tray() { return tray_; }
    QMenu* menu() { return menu_; }
    const QIcon& icon() const { return icon_; }
    QString toolTip() const {
        // Without a tooltip of its own, the icon is described by its image.
        const std::string& text = !toolTip_.empty() || !image_ ? toolTip_ : image_->accessibilityDescription;
        return QString::fromStdString(text);
    }

private:
    void refreshIcon() {
        if (owner_ == nullptr) return;
        const auto symbol = image_ ? internal::symbolNamed(image_->symbolName) : std::nullopt;
        icon_ = internal::statusIcon(symbol, QString::fromStdString(title_));
        if (tray_) tray_->setIcon(icon_);
    }

    void refreshToolTip() {
        if (tray_) tray_->setToolTip(toolTip());
    }

    std::shared_ptr<appkit::MenuDelegate> menuDelegate() const { return model_ ? model_->delegate.lock() : nullptr; }

    QtFramework::State* owner_;
    QPointer<QSystemTrayIcon> tray_;
    QPointer<QMenu> menu_;
    std::unique_ptr<internal::MenuExporter> exporter_;
    /// The model to show once the open menu closes (null: no menu).
    std::optional<std::shared_ptr<const appkit::Menu>> pending_;
    /// The menu's labels are older than `model_`'s, to be brought up to date as it opens.
    bool titlesBehind_ = false;
    /// The model menu_ was built from, and whether menu_ has been open since.
    std::shared_ptr<const appkit::Menu> model_;
    bool menuShown_ = false;
    QIcon icon_;
    std::optional<appkit::Image> image_;
    std::string title_;
    std::string toolTip_;
};

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

bool systemTrayPresent() {
    return (statusNotifierHostPresent() || xembedTrayPresent()) && QSystemTrayIcon::isSystemTrayAvailable();
}

} // namespace

void QtFramework::State::place(QtStatusItem& item) {
    if (!waiting && systemTrayPresent()) {
        item.show();
        return;
    }
    waitForTray();
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
        std::fflush(stderr);
    }
    trayPoll->start();
    if (observer) observer(true);
}

void QtFramework::State::pollTray() {
    if (!systemTrayPresent()) return;
    trayPoll->stop();
    waiting = false;
    for (QtStatusItem* item : items)
        item->show();
    if (observer) observer(false);
    app.launch();
}

void QtFramework::State::installSignalHandlers() {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    signalNotifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, application.get());
    QObject::connect(signalNotifier, &QSocketNotifier::activated, signalNotifier, [this] {
        char bytes[16];
        bool terminate = false, started = false;
        for (ssize_t count; (count = read(signalPipe[0], bytes, sizeof bytes)) > 0;) {
            for (ssize_t i = 0; i < count; ++i)
                (bytes[i] == SIGUSR1 ? started : terminate) = true;
        }
        if (started && anotherStart) anotherStart();
        if (terminate) app.terminate();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i)
        sigaction(kHandledSignals[i], &action, &previous[i]);
}

void QtFramework::State::restoreSignalHandlers() {
    if (signalNotifier == nullptr) return;
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i)
        sigaction(kHandledSignals[i], &previous[i], nullptr);
    delete signalNotifier;
    signalNotifier = nullptr;
    close(signalPipe[0]);
    close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

std::shared_ptr<appkit::StatusItem> QtStatusBar::statusItemWithLength(double) {
    platform::requireMainThread("StatusBar::statusItemWithLength");
    auto item = std::make_shared<QtStatusItem>(state_);
    state_.place(*item);
    return item;
}

QtFramework::QtFramework(std::unique_ptr<State> state) : state_(std::move(state)) {}

QtFramework::~QtFramework() {
    frameworkAlive = false;
    state_->restoreSignalHandlers();
    for (QtStatusItem* item : state_->items)
        item->detach();
    state_->items.clear();
    // Menus replaced last are still waiting for their deferred deletion.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    state_->application.reset();
}

appkit::Application& QtFramework::sharedApplication() { return state_->app; }
appkit::StatusBar& QtFramework::systemStatusBar() { return state_->bar; }

std::optional<appkit::Image> QtFramework::imageWithSystemSymbolName(std::string_view name,
                                                                    std::string_view accessibilityDescription) {
    if (!internal::symbolNamed(name)) return std::nullopt;
    return appkit::Image{std::string(name), std::string(accessibilityDescription)};
}

bool QtFramework::waitingForSystemTray() const { return state_->waiting; }

void QtFramework::showNotice(const std::string& text) {
    const QString notice = QString::fromStdString(text);
    const auto shown = std::find_if(state_->items.begin(), state_->items.end(),
                                    [](QtStatusItem* item) { return item->tray() != nullptr; });
    // Before the icon is settled, the message joins those waiting for it.
    if (shown != state_->items.end() && state_->notices.empty()) return (*shown)->showNotice(notice);
    state_->notices.push_back(notice);
}

bool QtFramework::notifyDesktop(const std::string& text) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Quellan") << 0u << QStringLiteral("quellan") << QStringLiteral("Quellan")
         << QString::fromStdString(text) << QStringList() << QVariantMap() << -1;
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 1000).type() == QDBusMessage::ReplyMessage;
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

void QtFramework::setAnotherStartHandler(std::function<void()> handler) { state_->anotherStart = std::move(handler); }

std::vector<std::uint32_t> QtFramework::ownWindowIds() const {
    std::vector<std::uint32_t> ids;
    for (const QWindow* window : QGuiApplication::allWindows()) {
        if (window->handle() != nullptr) ids.push_back(static_cast<std::uint32_t>(window->winId()));
    }
    return ids;
}

void QtFramework::setSystemTrayObserver(std::function<void(bool waiting)> observer) {
    state_->observer = std::move(observer);
}

std::unique_ptr<QtFramework> makeFramework(int& argc, char** argv, const FrameworkOptions& options) {
    platform::requireMainThread("makeFramework");
    if (QCoreApplication::instance() != nullptr) {
        std::fprintf(stderr, "quellan: programming error: a second Qt framework was made while one exists\n");
        std::abort();
    }
    if (!displayReachable()) return nullptr;
    auto state = std::make_unique<QtFramework::State>();
    state->options = options;
    QApplication::setApplicationName(QStringLiteral("quellan"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quellan"));
    QApplication::setDesktopFileName(QStringLiteral("quellan"));
    state->application = std::make_unique<QApplication>(argc, argv);
    // Quellan has no windows; closing a dialog of Qt's must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    state->trayPoll = new QTimer(state->application.get());
    state->trayPoll->setInterval(
        static_cast<int>(std::max<std::chrono::milliseconds::rep>(1, options.trayPollInterval.count())));
    QObject::connect(state->trayPoll, &QTimer::timeout, state->trayPoll, [raw = state.get()] { raw->pollTray(); });
    state->app.requestLaunch = [raw = state.get()] {
        if (!raw->waiting && systemTrayPresent()) return raw->app.launch();
        raw->waitForTray();
    };
    if (options.handleTerminationSignals) state->installSignalHandlers();
    static const bool watchingExit = std::atexit(sayIfEndedWhileRunning) == 0;
    frameworkAlive = watchingExit;
    return std::unique_ptr<QtFramework>(new QtFramework(std::move(state)));
}

namespace internal {

QSystemTrayIcon* trayIconOf(appkit::StatusItem& item) {
    auto* ours = dynamic_cast<QtStatusItem*>(&item);
    return ours != nullptr ? ours->tray() : nullptr;
}

QIcon iconOf(appkit::StatusItem& item) {
    auto* ours = dynamic_cast<QtStatusItem*>(&item);
    return ours != nullptr ? ours->icon() : QIcon();
}

QString toolTipOf(appkit::StatusItem& item) {
    auto* ours = dynamic_cast<QtStatusItem*>(&item);
    return ours != nullptr ? ours->toolTip() : QString();
}

QMenu* menuOf(appkit::StatusItem& item) {
    auto* ours = dynamic_cast<QtStatusItem*>(&item);
    return ours != nullptr ? ours->menu() : nullptr;
}

} // namespace internal

} // namespace quellan::qt
