// A status item's menu served over D-Bus (com.canonical.dbusmenu) to the
// status notifier panel that draws it, in place of the copy Qt makes of
// the QMenu: Qt tells the panel of each QAction added, removed or changed
// on its own, and a panel told tens of times as it opens a menu closes it or
// reads it all again each time. Here a new model is told as at most one
// layout update (rows added, removed or of another kind) and one properties
// update (texts, enabled, checked) for all rows, and an unchanged one not at all.
#pragma once

#include "Platform/AppKit.hpp"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QTimer>
#include <QVariantMap>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QMenu;

namespace quellan::qt::internal {

class MenuExporter final : public QDBusVirtualObject {
public:
    /// Takes the place of Qt's copy of `menu`, the context menu of a tray
    /// icon Qt shows as a status notifier item, under the same name; null
    /// when Qt shows it otherwise (an XEmbed tray) or its copy is not found.
    static std::unique_ptr<MenuExporter> replaceExportOf(QMenu& menu);
    ~MenuExporter() override;

    /// Shows `model` from now on; what differs from the last one is told.
    void show(const appkit::Menu& model);
    /// Told as the panel opens and closes the menu.
    std::function<void()> willOpen, didClose;

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    /// The host closed the menu (or never opened it after all).
    void closing();
    struct Row {
        int id = 0;
        QVariantMap properties;
        std::vector<Row> children;
        appkit::MenuItem item;
    };

    MenuExporter(QDBusConnection connection, QMenu& menu);
    Row rowFor(const appkit::MenuItem& item, std::vector<int>& path) const;
    std::vector<Row> rowsFor(const appkit::Menu& model, std::vector<int>& path) const;
    const Row* find(int id, const Row& from) const;
    QDBusMessage reply(const QDBusMessage& message);
    void signal(const char* name, const QVariantList& arguments);

    QDBusConnection connection_;
    QMenu& menu_;
    Row root_;
    unsigned revision_ = 1;
    bool open_ = false;
    /// Opened by an AboutToShow alone: some hosts (GNOME's AppIndicator
    /// extension) send one when they first read the menu and show nothing,
    /// so unless the host says "opened" soon after, it counts as closed again.
    QTimer* unconfirmedOpen_ = nullptr;
    /// A row's id is its place: kept while the place is, so that a panel's
    /// open menu follows a changed row instead of losing it.
    mutable std::map<std::vector<int>, int> ids_;
};

} // namespace quellan::qt::internal
