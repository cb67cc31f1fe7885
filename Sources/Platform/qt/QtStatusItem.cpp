// The status item over QSystemTrayIcon, with its menu, and the status bar
// that places items in the tray.
#include "Platform/MainThread.hpp"
#include "Platform/qt/FrameworkState.hpp"
#include "Platform/qt/MenuExporter.hpp"
#include "Platform/qt/QtInternal.hpp"

#include <QCursor>
#include <QMenu>
#include <QPointer>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

namespace quellan::qt {

namespace {

// What a status item without a menu shows.
const appkit::Menu kNoMenu;

// Time for a tray to embed a new icon, whose place a message is shown by.
constexpr std::chrono::milliseconds kNoticeDelay(500);

} // namespace

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

void QtFramework::State::place(QtStatusItem& item) {
    if (!waiting && systemTrayPresent()) {
        item.show();
        return;
    }
    waitForTray();
}

void QtFramework::State::showItems() {
    for (QtStatusItem* item : items)
        item->show();
}

void QtFramework::State::detachItems() {
    for (QtStatusItem* item : items)
        item->detach();
    items.clear();
}

std::shared_ptr<appkit::StatusItem> QtStatusBar::statusItemWithLength(double) {
    platform::requireMainThread("StatusBar::statusItemWithLength");
    auto item = std::make_shared<QtStatusItem>(state_);
    state_.place(*item);
    return item;
}

void QtFramework::showNotice(const std::string& text) {
    const QString notice = QString::fromStdString(text);
    const auto shown = std::find_if(state_->items.begin(), state_->items.end(),
                                    [](QtStatusItem* item) { return item->tray() != nullptr; });
    // Before the icon is settled, the message joins those waiting for it.
    if (shown != state_->items.end() && state_->notices.empty()) return (*shown)->showNotice(notice);
    if (!state_->waiting) return state_->notices.push_back(notice);
    // With no tray to show it (perhaps for good), the notification service
    // shows it now; where there is none, it waits for the icon.
    state_->notifyDesktopLater(notice, [state = state_.get(), notice](bool taken) {
        if (!taken) state->notices.push_back(notice);
    });
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
