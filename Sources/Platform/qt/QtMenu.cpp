// Plain menu models as QMenus.
#include "Platform/qt/QtInternal.hpp"

#include <QAction>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>

namespace quellan::qt::internal {
namespace {

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

// The item's title as drawn, its quoted runs isolated and, with `metrics`, shortened.
QString displayText(const appkit::MenuItem& item, const QFontMetrics* metrics) {
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

void present(QAction& action, const appkit::MenuItem& item, const QFontMetrics& metrics) {
    QString text = displayText(item, &metrics);
    // & would mark a mnemonic.
    action.setText(text.replace(QLatin1Char('&'), QStringLiteral("&&")));
    // The whole text, where a row had to be shortened.
    if (!item.quotedRanges.empty()) action.setToolTip(displayText(item, nullptr));
}

void fill(QMenu& menu, const appkit::Menu& model) {
    const QFontMetrics metrics(menu.font());
    menu.setToolTipsVisible(true);
    for (const appkit::MenuItem& item : model.items()) {
        if (item.isSeparator) {
            menu.addSeparator();
            continue;
        }
        QAction* action = nullptr;
        if (item.submenu) {
            QMenu* submenu = menu.addMenu(QString());
            fill(*submenu, *item.submenu);
            action = submenu->menuAction();
        } else {
            action = menu.addAction(QString());
            QObject::connect(action, &QAction::triggered, action, [item] {
                // Queued: the command may replace the menu, and with it
                // this action, which is still delivering its signal.
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [item] { appkit::performActionForItem(item); }, Qt::QueuedConnection);
            });
            if (const QKeySequence shortcut = shortcutFor(item); !shortcut.isEmpty()) {
                action->setShortcut(shortcut);
                action->setShortcutVisibleInContextMenu(true);
            }
        }
        present(*action, item, metrics);
        action->setEnabled(item.enabled);
        if (item.state == appkit::ControlState::on) {
            action->setCheckable(true);
            action->setChecked(true);
        }
    }
}

} // namespace

void retitleMenu(QMenu& menu, const appkit::Menu& model) {
    const QFontMetrics metrics(menu.font());
    const auto actions = menu.actions();
    const auto& items = model.items();
    for (qsizetype i = 0; i < actions.size() && static_cast<std::size_t>(i) < items.size(); ++i) {
        const appkit::MenuItem& item = items[static_cast<std::size_t>(i)];
        if (item.isSeparator) continue;
        present(*actions[i], item, metrics);
        if (item.submenu && actions[i]->menu() != nullptr) retitleMenu(*actions[i]->menu(), *item.submenu);
    }
}

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
    refillMenu(*menu, model);
    return menu;
}

void refillMenu(QMenu& menu, const appkit::Menu& model) {
    // Emptied first: a destroyed menu leaves the rows of its exported copy
    // behind. Deleted later: it may be delivering the action that led here.
    for (QMenu* submenu : menu.findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly)) {
        submenu->clear();
        submenu->deleteLater();
    }
    menu.clear();
    fill(menu, model);
    // Submenus have the keyboard while they are open.
    // Found by its type: without a meta-object of its own, findChild would take any child.
    MenuShortcuts* shortcuts = nullptr;
    for (QObject* child : menu.children()) {
        if (shortcuts == nullptr) shortcuts = dynamic_cast<MenuShortcuts*>(child);
    }
    for (QMenu* submenu : menu.findChildren<QMenu*>())
        submenu->installEventFilter(shortcuts);
}

} // namespace quellan::qt::internal
