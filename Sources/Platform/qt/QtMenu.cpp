// Plain menu models as QMenus.
#include "Platform/qt/QtInternal.hpp"

#include <QAction>
#include <QCoreApplication>
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

void fill(QMenu& menu, const appkit::Menu& model) {
    for (const appkit::MenuItem& item : model.items()) {
        if (item.isSeparator) {
            menu.addSeparator();
            continue;
        }
        QAction* action = nullptr;
        if (item.submenu) {
            QMenu* submenu = menu.addMenu(menuText(item.title));
            fill(*submenu, *item.submenu);
            action = submenu->menuAction();
        } else {
            action = menu.addAction(menuText(item.title));
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
        action->setEnabled(item.enabled);
        if (item.state == appkit::ControlState::on) {
            action->setCheckable(true);
            action->setChecked(true);
        }
    }
}

} // namespace

QString menuText(std::string_view title) {
    QString text = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
    // A tab starts QMenu's shortcut column and & marks a mnemonic.
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    for (QChar& c : text) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')) c = QLatin1Char(' ');
    }
    return text;
}

void retitleMenu(QMenu& menu, const appkit::Menu& model) {
    const auto actions = menu.actions();
    const auto& items = model.items();
    for (qsizetype i = 0; i < actions.size() && static_cast<std::size_t>(i) < items.size(); ++i) {
        const appkit::MenuItem& item = items[static_cast<std::size_t>(i)];
        if (item.isSeparator) continue;
        actions[i]->setText(menuText(item.title));
        if (item.submenu && actions[i]->menu() != nullptr) retitleMenu(*actions[i]->menu(), *item.submenu);
    }
}

QMenu* buildMenu(const appkit::Menu& model) {
    auto* menu = new QMenu();
    fill(*menu, model);
    return menu;
}

} // namespace quellan::qt::internal
