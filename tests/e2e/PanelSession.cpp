#include "PanelSession.hpp"

#include <QtDBus>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace quellan::e2e {

using namespace std::chrono_literals;
using namespace x11::testing;

namespace {

QDBusMessage call(const std::string& address, const std::string& service, const std::string& path,
                  const char* interface, const char* method, const QVariantList& arguments) {
    // One connection per bus, named after it; the panel's end closes it.
    const QString name = QString::fromStdString(address);
    QDBusMessage message = QDBusMessage::createMethodCall(QString::fromStdString(service), QString::fromStdString(path),
                                                          interface, method);
    message.setArguments(arguments);
    return QDBusConnection::connectToBus(name, name).call(message, QDBus::Block, 5000);
}

QVariant property(const std::string& address, const std::string& service, const std::string& path,
                  const char* interface, const char* name) {
    // An error's argument, its message, is no variant: an invalid value.
    const auto reply = call(address, service, path, "org.freedesktop.DBus.Properties", "Get", {interface, name});
    return qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant();
}

QVariant watcher(const std::string& address, const char* name) {
    return property(address, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                    name);
}

// A layout node is (id, properties, children), each child a variant holding another node.
MenuRow decode(const QDBusArgument& node) {
    MenuRow row;
    QVariantMap properties;
    node.beginStructure();
    node >> row.id >> properties;
    node.beginArray();
    while (!node.atEnd()) {
        QDBusVariant child;
        node >> child;
        row.children.push_back(decode(qvariant_cast<QDBusArgument>(child.variant())));
    }
    node.endArray();
    node.endStructure();
    row.label = properties.value("label").toString().toStdString();
    row.enabled = properties.value("enabled", true).toBool();
    row.toggleState = properties.value("toggle-state", -1).toInt();
    return row;
}

} // namespace

bool PanelHost::isPanel(const std::string& name) {
    return name == "xfce4-panel" || name == "lxqt-panel" || name == "mate-panel";
}

namespace {

// One panel holding only its tray; with a configuration already there, the
// panel asks nothing at its first start.
void configure(const std::string& panel, const std::string& config) {
    if (panel == "lxqt-panel") {
        std::filesystem::create_directories(config + "/lxqt");
        std::ofstream(config + "/lxqt/panel.conf") << "[General]\n__userfile__=true\n[panel1]\nplugins=tray\n"
                                                      "position=Top\npanelSize=32\n[tray]\ntype=statusnotifier\n";
    } else if (panel == "mate-panel") {
        // Read through GLib's keyfile settings backend: no dconf service.
        std::filesystem::create_directories(config + "/glib-2.0/settings");
        std::ofstream(config + "/glib-2.0/settings/keyfile")
            << "[org/mate/panel/general]\nobject-id-list=['tray']\ntoplevel-id-list=['top']\n"
               "[org/mate/panel/toplevels/top]\norientation='top'\nsize=32\n"
               "[org/mate/panel/objects/tray]\nobject-type='applet'\ntoplevel-id='top'\nposition=0\n"
               "applet-iid='NotificationAreaAppletFactory::NotificationArea'\n";
    } else {
        const std::string channels = config + "/xfce4/xfconf/xfce-perchannel-xml";
        std::filesystem::create_directories(channels);
        std::ofstream(channels + "/xfce4-panel.xml")
            << R"(<channel name="xfce4-panel" version="1.0"><property name="configver" type="int" value="2"/>
<property name="panels" type="array"><value type="int" value="1"/><property name="panel-1" type="empty">
<property name="position" type="string" value="p=6;x=0;y=0"/><property name="size" type="uint" value="32"/>
<property name="plugin-ids" type="array"><value type="int" value="1"/></property></property></property>
<property name="plugins" type="empty"><property name="plugin-1" type="string" value="systray"/></property></channel>)";
    }
}

} // namespace

std::unique_ptr<PanelHost> PanelHost::start(const std::string& display, const std::string& home, std::string& error,
                                            const std::string& panel) {
    std::unique_ptr<PanelHost> host(new PanelHost);
    std::filesystem::create_directories(home);
    chmod(home.c_str(), 0700);
    configure(panel, home + "/config");
    // The bus passes its environment to what it starts on demand (xfconfd,
    // mate-panel's tray applet) in their own process groups; no
    // accessibility bus, no session manager. The home is private, so it
    // serves as the runtime folder too.
    std::map<std::string, std::string> environment{{"DISPLAY", display},
                                                   {"HOME", home},
                                                   {"XDG_CONFIG_HOME", home + "/config"},
                                                   {"XDG_CONFIG_DIRS", home},
                                                   {"XDG_DATA_HOME", home},
                                                   {"XDG_CACHE_HOME", home + "/cache"},
                                                   {"XDG_RUNTIME_DIR", home},
                                                   {"NO_AT_BRIDGE", "1"},
                                                   {"SESSION_MANAGER", ""},
                                                   {"GSETTINGS_BACKEND", "keyfile"}};
    host->bus_ = Process::spawn(
        {"dbus-daemon", "--session", "--nofork", "--print-address=1", "--address=unix:path=" + home + "/bus"},
        {.environment = environment, .pipes = true}, error);
    const auto address = host->bus_ ? host->bus_->readLine(10s) : std::nullopt;
    if (!address || address->empty()) {
        error += "dbus-daemon gave no address";
        return nullptr;
    }
    host->address_ = environment["DBUS_SESSION_BUS_ADDRESS"] = *address;
    host->panel_ = Process::spawn({panel}, {.environment = environment}, error);
    if (!waitUntil([&] { return watcher(*address, "IsStatusNotifierHostRegistered").toBool(); }, 20s)) {
        error += panel + " never became a status notifier host";
        return nullptr;
    }
    return host;
}

PanelHost::~PanelHost() { QDBusConnection::disconnectFromBus(QString::fromStdString(address_)); }

bool PanelHost::findItem() {
    const QStringList items = watcher(address_, "RegisteredStatusNotifierItems").toStringList();
    if (items.size() != 1) return false;
    // "service/path", or the service alone for the usual path.
    const auto slash = items[0].indexOf('/');
    service_ = items[0].left(slash).toStdString();
    const std::string path = slash < 0 ? "/StatusNotifierItem" : items[0].mid(slash).toStdString();
    const QVariant menu = property(address_, service_, path, "org.kde.StatusNotifierItem", "Menu");
    menuPath_ = qvariant_cast<QDBusObjectPath>(menu).path().toStdString();
    if (menuPath_.empty()) return false;
    // What a panel listens for to read the menu again.
    std::string error;
    monitor_ =
        Process::spawn({"dbus-monitor", "--address", address_, "type='signal',interface='com.canonical.dbusmenu'"},
                       {.environment = {}, .pipes = true}, error);
    return monitor_ != nullptr;
}

const PanelHost::Signals& PanelHost::countSignals() {
    for (auto line = monitor_->readLine(200ms); line; line = monitor_->readLine(200ms)) {
        signals_.layout += line->find("member=LayoutUpdated") != std::string::npos ? 1 : 0;
        signals_.properties += line->find("member=ItemsPropertiesUpdated") != std::string::npos ? 1 : 0;
        // A property named outside a dict entry is one removed.
        const bool named = line->find("string \"toggle-state\"") != std::string::npos;
        signals_.checksDropped += named && lastLine_.find("dict entry(") == std::string::npos ? 1 : 0;
        lastLine_ = *line;
    }
    return signals_;
}

std::vector<MenuRow> PanelHost::menu() {
    // As a panel opens the menu: told first, then reading it, then showing it.
    call(address_, service_, menuPath_, "com.canonical.dbusmenu", "AboutToShow", {0});
    auto rows = layout();
    call(address_, service_, menuPath_, "com.canonical.dbusmenu", "Event",
         {0, "opened", QVariant::fromValue(QDBusVariant(0)), 0u});
    return rows;
}

std::vector<MenuRow> PanelHost::layout() {
    const auto reply =
        call(address_, service_, menuPath_, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) return {};
    return decode(qvariant_cast<QDBusArgument>(reply.arguments()[1])).children;
}

bool PanelHost::choose(const std::string& label) {
    const auto rows = menu();
    const auto row = std::ranges::find(rows, label, &MenuRow::label);
    if (row == rows.end() || !row->enabled) return false;
    call(address_, service_, menuPath_, "com.canonical.dbusmenu", "AboutToShow", {row->id});
    const QVariantList event{row->id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u};
    const bool clicked = call(address_, service_, menuPath_, "com.canonical.dbusmenu", "Event", event).type() ==
                         QDBusMessage::ReplyMessage;
    closeMenu();
    return clicked;
}

void PanelHost::closeMenu() {
    call(address_, service_, menuPath_, "com.canonical.dbusmenu", "Event",
         {0, "closed", QVariant::fromValue(QDBusVariant(0)), 0u});
}

} // namespace quellan::e2e
