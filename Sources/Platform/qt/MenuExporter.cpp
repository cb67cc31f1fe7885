#include "Platform/qt/MenuExporter.hpp"

#include "Platform/qt/QtInternal.hpp"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QFontMetrics>
#include <QKeySequence>
#include <QLocale>
#include <QMenu>

#include <algorithm>
#include <map>

namespace quellan::qt::internal::dbusmenu {

// The protocol's structures, as its methods and signals carry them.
struct RowProperties {
    int id = 0;
    QVariantMap properties;
};
struct RemovedProperties {
    int id = 0;
    QStringList names;
};
struct LayoutNode {
    int id = 0;
    QVariantMap properties;
    QList<QDBusVariant> children; ///< each a LayoutNode
};
struct Event {
    int id = 0;
    QString name;
    QDBusVariant data;
    uint timestamp = 0;
};

QDBusArgument& operator<<(QDBusArgument& out, const RowProperties& row) {
    out.beginStructure();
    out << row.id << row.properties;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, RowProperties& row) {
    in.beginStructure();
    in >> row.id >> row.properties;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const RemovedProperties& row) {
    out.beginStructure();
    out << row.id << row.names;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, RemovedProperties& row) {
    in.beginStructure();
    in >> row.id >> row.names;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const LayoutNode& node) {
    out.beginStructure();
    out << node.id << node.properties << node.children;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, LayoutNode& node) {
    in.beginStructure();
    in >> node.id >> node.properties >> node.children;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const Event& event) {
    out.beginStructure();
    out << event.id << event.name << event.data << event.timestamp;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, Event& event) {
    in.beginStructure();
    in >> event.id >> event.name >> event.data >> event.timestamp;
    in.endStructure();
    return in;
}

} // namespace quellan::qt::internal::dbusmenu

Q_DECLARE_METATYPE(quellan::qt::internal::dbusmenu::RowProperties)
Q_DECLARE_METATYPE(quellan::qt::internal::dbusmenu::RemovedProperties)
Q_DECLARE_METATYPE(quellan::qt::internal::dbusmenu::LayoutNode)
Q_DECLARE_METATYPE(quellan::qt::internal::dbusmenu::Event)

namespace quellan::qt::internal {
namespace {

using namespace dbusmenu;

const QString kPath = QStringLiteral("/MenuBar");
const QString kInterface = QStringLiteral("com.canonical.dbusmenu");

void registerTypes() {
    qDBusRegisterMetaType<RowProperties>();
    qDBusRegisterMetaType<QList<RowProperties>>();
    qDBusRegisterMetaType<RemovedProperties>();
    qDBusRegisterMetaType<QList<RemovedProperties>>();
    qDBusRegisterMetaType<LayoutNode>();
    qDBusRegisterMetaType<Event>();
    qDBusRegisterMetaType<QList<Event>>();
    qDBusRegisterMetaType<QList<QStringList>>();
}

QVariantMap propertiesOf(const appkit::MenuItem& item, const QFontMetrics& metrics) {
    if (item.isSeparator) return {{QStringLiteral("type"), QStringLiteral("separator")}};
    // An underscore marks a mnemonic; two stand for one.
    QVariantMap properties{{QStringLiteral("label"), rowText(item, &metrics).replace(u'_', QStringLiteral("__"))},
                           {QStringLiteral("enabled"), item.enabled}};
    if (item.submenu) properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (item.state == appkit::ControlState::on) {
        properties.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        properties.insert(QStringLiteral("toggle-state"), 1);
    }
    // Keys as the protocol names them: ["Control", "Q"].
    if (const QKeySequence shortcut = shortcutFor(item); !shortcut.isEmpty()) {
        QStringList keys = shortcut.toString(QKeySequence::PortableText).split(u'+');
        std::ranges::replace(keys, QStringLiteral("Ctrl"), QStringLiteral("Control"));
        properties.insert(QStringLiteral("shortcut"), QVariant::fromValue(QList<QStringList>{keys}));
    }
    return properties;
}

QVariantMap only(const QVariantMap& properties, const QStringList& names) {
    if (names.isEmpty()) return properties;
    QVariantMap kept;
    for (const QString& name : names) {
        if (properties.contains(name)) kept.insert(name, properties.value(name));
    }
    return kept;
}

} // namespace

std::unique_ptr<MenuExporter> MenuExporter::replaceExportOf(QMenu& menu) {
    [[maybe_unused]] static const bool registered = (registerTypes(), true);
    // Qt serves each tray icon's menu on a connection of its own, named
    // after the icon's service: "org.kde.StatusNotifierItem-<pid>-<n>" for
    // its n-th icon; the object there is the QMenu's platform menu, whose
    // first base is QObject.
    for (int instance = 1; instance <= 64; ++instance) {
        QDBusConnection connection(
            QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(instance));
        QObject* copy = connection.isConnected() ? connection.objectRegisteredAt(kPath) : nullptr;
        if (copy == nullptr || static_cast<void*>(copy) != static_cast<void*>(menu.platformMenu())) continue;
        std::unique_ptr<MenuExporter> exporter(new MenuExporter(connection, menu));
        connection.unregisterObject(kPath);
        if (connection.registerVirtualObject(kPath, exporter.get())) return exporter;
        connection.registerObject(kPath, copy);
        return nullptr;
    }
    return nullptr;
}

MenuExporter::MenuExporter(QDBusConnection connection, QMenu& menu) : connection_(std::move(connection)), menu_(menu) {
    root_.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    unconfirmedOpen_ = new QTimer(this);
    unconfirmedOpen_->setSingleShot(true);
    unconfirmedOpen_->setInterval(2000);
    connect(unconfirmedOpen_, &QTimer::timeout, this, [this] { closing(); });
}

void MenuExporter::closing() {
    unconfirmedOpen_->stop();
    if (std::exchange(open_, false) && didClose) didClose();
}

MenuExporter::~MenuExporter() {
    if (connection_.objectRegisteredAt(kPath) == this) connection_.unregisterObject(kPath);
}

std::vector<MenuExporter::Row> MenuExporter::rowsFor(const appkit::Menu& model, std::vector<int>& path) const {
    const QFontMetrics metrics(menu_.font());
    std::vector<Row> rows;
    rows.reserve(model.items().size());
    path.push_back(0);
    for (const appkit::MenuItem& item : model.items()) {
        const int id = ids_.try_emplace(path, static_cast<int>(ids_.size()) + 1).first->second;
        Row row{.id = id, .properties = propertiesOf(item, metrics), .children = {}, .item = item};
        if (item.submenu) row.children = rowsFor(*item.submenu, path);
        rows.push_back(std::move(row));
        ++path.back();
    }
    path.pop_back();
    return rows;
}

namespace {

template <typename Row> bool sameShape(const std::vector<Row>& a, const std::vector<Row>& b) {
    const auto type = [](const Row& row) {
        return std::pair(row.properties.value(QStringLiteral("type")).toString(),
                         row.properties.contains(QStringLiteral("children-display")));
    };
    return std::ranges::equal(a, b, [&](const Row& x, const Row& y) { return x.id == y.id && type(x) == type(y); });
}

template <typename Row> void compareProperties(const Row& was, const Row& is, QList<RowProperties>& updated,
                                               QList<RemovedProperties>& removed) {
    RowProperties changed{is.id, {}};
    RemovedProperties gone{is.id, {}};
    for (auto property = is.properties.begin(); property != is.properties.end(); ++property) {
        if (was.properties.value(property.key()) != property.value())
            changed.properties.insert(property.key(), property.value());
    }
    for (const QString& name : was.properties.keys()) {
        if (!is.properties.contains(name)) gone.names << name;
    }
    if (!changed.properties.isEmpty()) updated << changed;
    if (!gone.names.isEmpty()) removed << gone;
}

template <typename Row> void collect(const Row& row, std::map<int, const Row*>& byId) {
    for (const Row& child : row.children) {
        byId.emplace(child.id, &child);
        collect(child, byId);
    }
}

// Every row's changed properties, the row of the same id before and after.
// A panel that reads a new layout may take only the rows' kinds from it and
// keep what it knows of every id it has seen (GNOME's AppIndicator extension
// does), so rows under a new layout are told their changes too.
template <typename Row> void compareById(const Row& after, const std::map<int, const Row*>& before,
                                         QList<RowProperties>& updated, QList<RemovedProperties>& removed) {
    for (const Row& child : after.children) {
        if (const auto was = before.find(child.id); was != before.end())
            compareProperties(*was->second, child, updated, removed);
        compareById(child, before, updated, removed);
    }
}

// The rows whose children a panel must read again (and nothing below them).
template <typename Row> void relaidRows(const Row& before, const Row& after, std::vector<int>& relaid) {
    if (!sameShape(before.children, after.children)) return relaid.push_back(after.id);
    for (std::size_t i = 0; i < after.children.size(); ++i)
        relaidRows(before.children[i], after.children[i], relaid);
}

} // namespace

void MenuExporter::show(const appkit::Menu& model) {
    std::vector<int> path;
    Row next{.id = 0, .properties = root_.properties, .children = rowsFor(model, path), .item = {}};
    QList<RowProperties> updated;
    QList<RemovedProperties> removed;
    std::map<int, const Row*> before;
    collect(root_, before);
    compareById(next, before, updated, removed);
    std::vector<int> relaid;
    relaidRows(root_, next, relaid);
    root_ = std::move(next);
    if (!updated.isEmpty() || !removed.isEmpty())
        signal("ItemsPropertiesUpdated", {QVariant::fromValue(updated), QVariant::fromValue(removed)});
    if (!relaid.empty()) signal("LayoutUpdated", {++revision_, relaid.size() == 1 ? relaid.front() : 0});
}

void MenuExporter::signal(const char* name, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createSignal(kPath, kInterface, QString::fromLatin1(name));
    message.setArguments(arguments);
    connection_.send(message);
}

const MenuExporter::Row* MenuExporter::find(int id, const Row& from) const {
    if (from.id == id) return &from;
    for (const Row& child : from.children) {
        if (const Row* found = find(id, child)) return found;
    }
    return nullptr;
}

bool MenuExporter::handleMessage(const QDBusMessage& message, const QDBusConnection&) {
    // Qt answers introspection from introspect().
    if (message.interface() == u"org.freedesktop.DBus.Introspectable") return false;
    const QDBusMessage answer = reply(message);
    if (message.isReplyRequired()) connection_.send(answer);
    return true;
}

QDBusMessage MenuExporter::reply(const QDBusMessage& message) {
    const QString member = message.member();
    const QVariantList in = message.arguments();
    if (message.interface() == u"org.freedesktop.DBus.Properties") {
        const QVariantMap all{{QStringLiteral("Version"), 3u},
                              {QStringLiteral("TextDirection"), QLocale().textDirection() == Qt::RightToLeft
                                                                    ? QStringLiteral("rtl")
                                                                    : QStringLiteral("ltr")},
                              {QStringLiteral("Status"), QStringLiteral("normal")},
                              {QStringLiteral("IconThemePath"), QStringList()}};
        if (member == u"GetAll") return message.createReply(QVariant::fromValue(all));
        if (member == u"Get" && all.contains(in.value(1).toString()))
            return message.createReply(QVariant::fromValue(QDBusVariant(all.value(in.value(1).toString()))));
        return message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such property"));
    }
    const auto opening = [this] {
        open_ = true;
        if (willOpen) willOpen();
    };
    // Clicked rows act once the reply is on its way, as a QMenu's do once it has closed.
    const auto event = [&](int id, const QString& name) {
        const Row* row = find(id, root_);
        if (row == nullptr) return false;
        if (name == u"clicked") {
            // Only what a panel offers to click: a caller on the bus may ask anything.
            if (id == 0 || !row->item.enabled || row->item.isSeparator || row->item.submenu) return true;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [item = row->item] { appkit::performActionForItem(item); },
                Qt::QueuedConnection);
        } else if (id == 0 && name == u"opened") {
            unconfirmedOpen_->stop();
            if (!open_) opening();
        } else if (id == 0 && name == u"closed") {
            closing();
        }
        return true;
    };
    if (member == u"GetLayout") {
        const Row* row = find(in.value(0).toInt(), root_);
        if (row == nullptr) return message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such row"));
        const QStringList names = in.value(2).toStringList();
        const auto layout = [&](const auto& self, const Row& of, int depth) -> LayoutNode {
            LayoutNode node{of.id, only(of.properties, names), {}};
            if (depth != 0) {
                for (const Row& child : of.children)
                    node.children << QDBusVariant(QVariant::fromValue(self(self, child, depth - 1)));
            }
            return node;
        };
        return message.createReply({revision_, QVariant::fromValue(layout(layout, *row, in.value(1).toInt()))});
    }
    if (member == u"GetGroupProperties") {
        QList<RowProperties> rows;
        for (const int id : qdbus_cast<QList<int>>(in.value(0))) {
            if (const Row* row = find(id, root_))
                rows << RowProperties{id, only(row->properties, in.value(1).toStringList())};
        }
        return message.createReply(QVariant::fromValue(rows));
    }
    if (member == u"GetProperty") {
        const Row* row = find(in.value(0).toInt(), root_);
        if (row == nullptr) return message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such row"));
        return message.createReply(QVariant::fromValue(QDBusVariant(row->properties.value(in.value(1).toString()))));
    }
    if (member == u"Event") {
        if (!event(in.value(0).toInt(), in.value(1).toString()))
            return message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such row"));
        return message.createReply();
    }
    if (member == u"EventGroup") {
        QList<int> unknown;
        for (const Event& each : qdbus_cast<QList<Event>>(in.value(0))) {
            if (!event(each.id, each.name)) unknown << each.id;
        }
        return message.createReply(QVariant::fromValue(unknown));
    }
    const auto aboutToShow = [&] {
        if (open_) return;
        opening();
        unconfirmedOpen_->start();
    };
    if (member == u"AboutToShow") {
        if (in.value(0).toInt() == 0) aboutToShow();
        return message.createReply(false);
    }
    if (member == u"AboutToShowGroup") {
        if (qdbus_cast<QList<int>>(in.value(0)).contains(0)) aboutToShow();
        return message.createReply({QVariant::fromValue(QList<int>()), QVariant::fromValue(QList<int>())});
    }
    return message.createErrorReply(QDBusError::UnknownMethod, member);
}

QString MenuExporter::introspect(const QString&) const {
    return QStringLiteral(R"xml(<interface name="com.canonical.dbusmenu">
<property name="Version" type="u" access="read"/><property name="TextDirection" type="s" access="read"/>
<property name="Status" type="s" access="read"/><property name="IconThemePath" type="as" access="read"/>
<method name="GetLayout"><arg type="i" direction="in"/><arg type="i" direction="in"/><arg type="as" direction="in"/>
<arg type="u" direction="out"/><arg type="(ia{sv}av)" direction="out"/></method>
<method name="GetGroupProperties"><arg type="ai" direction="in"/><arg type="as" direction="in"/>
<arg type="a(ia{sv})" direction="out"/></method>
<method name="GetProperty"><arg type="i" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
<method name="Event"><arg type="i" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="in"/>
<arg type="u" direction="in"/></method>
<method name="EventGroup"><arg type="a(isvu)" direction="in"/><arg type="ai" direction="out"/></method>
<method name="AboutToShow"><arg type="i" direction="in"/><arg type="b" direction="out"/></method>
<method name="AboutToShowGroup"><arg type="ai" direction="in"/><arg type="ai" direction="out"/>
<arg type="ai" direction="out"/></method>
<signal name="ItemsPropertiesUpdated"><arg type="a(ia{sv})"/><arg type="a(ias)"/></signal>
<signal name="LayoutUpdated"><arg type="u"/><arg type="i"/></signal>
<signal name="ItemActivationRequested"><arg type="i"/><arg type="u"/></signal>
</interface>
)xml");
}

} // namespace quellan::qt::internal
