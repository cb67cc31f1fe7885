// The Qt backend's pieces as Qt types: for the backend's own files and its
// tests, never for the rest of the program.
#pragma once

#include "Platform/AppKit.hpp"

#include <QIcon>
#include <QImage>
#include <QKeySequence>
#include <QString>

#include <optional>
#include <string_view>

class QFontMetrics;
class QMenu;
class QSystemTrayIcon;

namespace quellan::qt::internal {

enum class Symbol { windows, warning };

inline constexpr std::string_view kWindowsSymbolName = "macwindow.on.rectangle";
inline constexpr std::string_view kWarningSymbolName = "exclamationmark.triangle";

/// The symbol drawn for a symbol name; none for a name the backend does not draw.
std::optional<Symbol> symbolNamed(std::string_view name);

/// Pixel sizes the status icon is drawn at; panels pick the nearest.
inline constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64};

/// The status icon at one size: the symbol, if any, with `title` as a
/// badge on it; the title alone when there is no symbol.
QImage renderStatusIcon(std::optional<Symbol> symbol, const QString& title, int size);
/// The same at every size of kIconSizes.
QIcon statusIcon(std::optional<Symbol> symbol, const QString& title);

/// A QMenu for the model, its titles shown literally: no mnemonic, no
/// shortcut column, no line breaks; quoted runs shortened to a readable
/// width (the whole row in its tooltip) and isolated. Choosing an item
/// sends its action with a copy of the item, once the menu has closed and
/// the signal has returned.
QMenu* buildMenu(const appkit::Menu& model);
/// Makes a menu from `buildMenu` show `model` instead, keeping the QMenu
/// and every row whose kind (separator, submenu, other) stays, and changing
/// only what differs: Qt tells a panel drawing the exported copy of each
/// row added, removed or changed.
void updateMenu(QMenu& menu, const appkit::Menu& model);
/// A row's key equivalent as Qt names it; empty for none.
QKeySequence shortcutFor(const appkit::MenuItem& item);
/// A row's title as drawn: its quoted runs isolated and, with `metrics`,
/// shortened.
QString rowText(const appkit::MenuItem& item, const QFontMetrics* metrics);

/// For tests: the status item's tray icon (null until a tray is there),
/// its current menu, and the icon and tooltip it shows or will show.
QSystemTrayIcon* trayIconOf(appkit::StatusItem& item);
QMenu* menuOf(appkit::StatusItem& item);
QIcon iconOf(appkit::StatusItem& item);
QString toolTipOf(appkit::StatusItem& item);

} // namespace quellan::qt::internal
