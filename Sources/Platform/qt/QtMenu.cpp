// Plain menu models as QMenus.
#include "Platform/qt/QtInternal.hpp"

#include <QAction>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>

namespace quellan::qt::internal {

// Ctrl takes the place of Command; an upper-case letter adds Shift, as it
// does for key equivalents elsewhere.
QKeySequence shortcutFor(const appkit::MenuItem& item) {
    if (item.keyEquivalent.size() != 1) return {};
    const char key = item.keyEquivalent[0];
    if (key >= 'a' && key <= 'z') return QKeySequence(QStringLiteral("Ctrl+") + QChar(key - 'a' + 'A'));
    if (key >= 'A' && key <= 'Z') return QKeySequence(QStringLiteral("Ctrl+Shift+") + QChar(key));
    if (key >= '0' && key <= '9') return QKeySequence(QStringLiteral("Ctrl+") + QChar(key));
    return {};
}

namespace {

// Another program's text is drawn at most this many average characters
// wide: a 4 KB window title would make the menu wider than the screen.
constexpr int kQuotedWidthInCharacters = 40;
constexpr char16_t kFirstIsolate = 0x2066, kFirstStrongIsolate = 0x2068, kPopDirectionalIsolate = 0x2069;

QString decoded(std::string_view bytes) {
    QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    // A tab starts QMenu's shortcut column.
    for (QChar& c : text) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')) c = QLatin1Char(' ');
    }
    return text;
}

// A run in an isolate of its own, so that direction marks in it (a
// right-to-left override, say) end with it. Its own isolates are closed
// before ours, and a stray closing mark, which would end ours early, is dropped.
QString isolated(const QString& run) {
    QString text{QChar(kFirstStrongIsolate)};
    int open = 0;
    for (const QChar c : run) {
        if (c.unicode() >= kFirstIsolate && c.unicode() <= kFirstStrongIsolate) {
            ++open;
        } else if (c.unicode() == kPopDirectionalIsolate) {
            if (open == 0) continue;
            --open;
        }
        text += c;
    }
    return text + QString(open + 1, QChar(kPopDirectionalIsolate));
}

} // namespace

QString rowText(const appkit::MenuItem& item, const QFontMetrics* metrics) {
    const std::string_view title = item.title;
    QString text;
    std::size_t at = 0;
    for (const appkit::TextRange& range : item.quotedRanges) {
        if (range.location < at || range.location > title.size() || range.length > title.size() - range.location)
            continue;
        text += decoded(title.substr(at, range.location - at));
        QString run = decoded(title.substr(range.location, range.length));
        if (metrics != nullptr)
            run = metrics->elidedText(run, Qt::ElideMiddle, metrics->averageCharWidth() * kQuotedWidthInCharacters);
        text += isolated(run);
        at = range.location + range.length;
    }
    return text + decoded(title.substr(at));
}

namespace {

void present(QAction& action, const appkit::MenuItem& item, const QFontMetrics& metrics) {
    QString text = rowText(item, &metrics);
    // & would mark a mnemonic.
    action.setText(text.replace(QLatin1Char('&'), QStringLiteral("&&")));
    // The whole text, where a row had to be shortened.
    action.setToolTip(item.quotedRanges.empty() ? QString() : rowText(item, nullptr));
    action.setEnabled(item.enabled);
    // Checkable only while on, as Qt toggles a checkable row as it is chosen.
    const bool on = item.state == appkit::ControlState::on;
    if (on) action.setCheckable(true);
    action.setChecked(on);
    action.setCheckable(on);
}

/// The model row an action stands for, kept current as the menu is updated
/// in place: choosing the row sends the action of the row it shows now.
class RowCommand final : public QObject {
public:
    explicit RowCommand(QAction* action) : QObject(action) {
        QObject::connect(action, &QAction::triggered, this, [this] {
            // Queued: the command may change the menu, and with it this
            // action, which is still delivering its signal.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [item = item] { appkit::performActionForItem(item); },
                Qt::QueuedConnection);
        });
    }
    appkit::MenuItem item;
};

RowCommand* commandOf(QAction& action) {
    for (QObject* child : action.children()) {
        if (auto* command = dynamic_cast<RowCommand*>(child)) return command;
    }
    return nullptr;
}

enum class RowKind { separator, submenu, plain };

RowKind kindOf(const appkit::MenuItem& item) {
    return item.isSeparator ? RowKind::separator : item.submenu ? RowKind::submenu : RowKind::plain;
}

RowKind kindOf(const QAction& action) {
    return action.isSeparator() ? RowKind::separator : action.menu() != nullptr ? RowKind::submenu : RowKind::plain;
}

void discard(QMenu& menu, QAction* action, QObject* shortcuts);

// Each row keeps its action while its kind stays: Qt tells the exported
// copy of every action added, removed or changed, and a panel may read the
// whole menu again each time.
void update(QMenu& menu, const appkit::Menu& model, const QFontMetrics& metrics, QObject* shortcuts) {
    menu.setToolTipsVisible(true);
    const auto& items = model.items();
    std::size_t row = 0;
    for (const appkit::MenuItem& item : items) {
        const auto actions = menu.actions();
        QAction* action = static_cast<qsizetype>(row) < actions.size() ? actions[static_cast<qsizetype>(row)] : nullptr;
        if (action == nullptr || kindOf(*action) != kindOf(item)) {
            QAction* before = action;
            if (item.isSeparator) {
                action = menu.insertSeparator(before);
            } else if (item.submenu) {
                auto* submenu = new QMenu(&menu);
                if (shortcuts != nullptr) submenu->installEventFilter(shortcuts);
                action = menu.insertMenu(before, submenu);
            } else {
                action = new QAction(&menu);
                new RowCommand(action);
                menu.insertAction(before, action);
            }
        }
        ++row;
        if (item.isSeparator) continue;
        present(*action, item, metrics);
        if (QMenu* submenu = action->menu()) {
            update(*submenu, *item.submenu, metrics, shortcuts);
            continue;
        }
        commandOf(*action)->item = item;
        if (const QKeySequence shortcut = shortcutFor(item); shortcut != action->shortcut()) {
            action->setShortcut(shortcut);
            action->setShortcutVisibleInContextMenu(true);
        }
    }
    for (auto actions = menu.actions(); actions.size() > static_cast<qsizetype>(row); actions.removeLast())
        discard(menu, actions.last(), shortcuts);
}

void discard(QMenu& menu, QAction* action, QObject* shortcuts) {
    menu.removeAction(action);
    // Emptied first: a destroyed menu leaves the rows of its exported copy
    // behind. Deleted later: it may be delivering the action that led here.
    if (QMenu* submenu = action->menu()) {
        update(*submenu, appkit::Menu(), submenu->fontMetrics(), shortcuts);
        submenu->deleteLater();
    }
    if (action->parent() == &menu) action->deleteLater();
}

} // namespace

namespace {

/// An open menu takes the keyboard, so Qt never sees its rows' shortcuts
/// as shortcuts: this finds the row a key press stands for and chooses it.
class MenuShortcuts final : public QObject {
public:
    explicit MenuShortcuts(QMenu* menu) : QObject(menu), menu_(menu) {}

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
        for (QAction* action : menu_->actions()) {
            if (action->isEnabled() && !action->shortcut().isEmpty() && action->shortcut() == pressed) {
                menu_->close();
                action->trigger();
                return true;
            }
        }
        return false;
    }

private:
    QMenu* menu_;
};

} // namespace

QMenu* buildMenu(const appkit::Menu& model) {
    auto* menu = new QMenu();
    menu->installEventFilter(new MenuShortcuts(menu));
    updateMenu(*menu, model);
    return menu;
}

void updateMenu(QMenu& menu, const appkit::Menu& model) {
    // Submenus have the keyboard while they are open.
    // Found by its type: without a meta-object of its own, findChild would take any child.
    MenuShortcuts* shortcuts = nullptr;
    for (QObject* child : menu.children()) {
        if (shortcuts == nullptr) shortcuts = dynamic_cast<MenuShortcuts*>(child);
    }
    update(menu, model, QFontMetrics(menu.font()), shortcuts);
}

} // namespace quellan::qt::internal
