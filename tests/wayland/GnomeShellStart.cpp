// GNOME Shell as a headless desktop for the tests: its settings written
// before it starts, a system bus of its own so that it reaches none of the
// machine's services, and an extension of the tests' own that puts it in
// unsafe mode, where org.gnome.Shell.Eval answers.
#include "WaylandSession.hpp"

#include <QDBusConnection>
#include <QDBusMessage>

#include <filesystem>
#include <fstream>
#include <regex>
#include <signal.h>
#include <sstream>
#include <thread>

namespace quellan::wayland::testing {
namespace {

namespace fs = std::filesystem;

const std::string kEvalExtension = "eval@tests.quellan";
const std::string kAppIndicator = "ubuntu-appindicators@ubuntu.com";

// The uuid that a built extension's metadata.json names.
std::string uuidOf(const std::string& folder) {
    static const std::regex uuid(R"re("uuid"\s*:\s*"([^"]+)")re");
    const std::string metadata = x11::testing::readFile(folder + "/metadata.json");
    std::smatch match;
    return std::regex_search(metadata, match, uuid) ? match[1].str() : std::string();
}

// A JavaScript string; uuids hold no quotes.
std::string quoted(const std::string& text) { return "'" + text + "'"; }

} // namespace

WaylandSession::~WaylandSession() {
    if (compositor_ != Compositor::gnome) return;
    QDBusConnection::disconnectFromBus(QString::fromStdString(busAddress_));
    // Given time to end on its own, the shell takes Xwayland's sockets and locks in /tmp with it.
    if (server_ && server_->running()) {
        kill(server_->pid(), SIGTERM);
        server_->exitCode(5s);
    }
}

bool WaylandSession::startGnomeShell(const GnomeShellOptions& options, std::string& error) {
    if (!(systemBus_ = startBus("system", systemBusAddress_, error))) return false;

    // The tests' own extension, then those asked for, installed as the user's own.
    const std::string extensions = home() + "/data/gnome-shell/extensions/";
    fs::create_directories(extensions + kEvalExtension);
    std::ofstream(extensions + kEvalExtension + "/metadata.json")
        << R"({"uuid": ")" << kEvalExtension << R"(", "name": "Eval", "description": "Lets the tests look in", )"
        << R"("shell-version": ["43"]})";
    // GNOME 43 has no option for unsafe mode; Looking Glass sets it just so.
    std::ofstream(extensions + kEvalExtension + "/extension.js")
        << "function init() {}\n"
           "function enable() { global.context.unsafe_mode = true; }\n"
           "function disable() { global.context.unsafe_mode = false; }\n";
    std::string enabled = quoted(kEvalExtension);
    for (const std::string& folder : options.extensionFolders) {
        const std::string uuid = uuidOf(folder);
        std::error_code failed;
        if (!uuid.empty()) fs::copy(folder, extensions + uuid, fs::copy_options::recursive, failed);
        if (uuid.empty() || failed) {
            error =
                "cannot install the extension in " + folder + ": no uuid in its metadata.json, or " + failed.message();
            return false;
        }
    }
    for (const std::string& uuid : options.enabledExtensions)
        enabled += ", " + quoted(uuid);
    if (options.appIndicator) enabled += ", " + quoted(kAppIndicator);

    // In a key file rather than dconf: no service to start, and the tests' gsettings reach it through environment().
    fs::create_directories(home() + "/config/glib-2.0/settings");
    std::ofstream(home() + "/config/glib-2.0/settings/keyfile")
        << "[org/gnome/shell]\nenabled-extensions=[" << enabled
        << "]\ndisable-user-extensions=false\ndisable-extension-version-validation=true\n"
           // No welcome tour, whether or not one is installed; no screen lock; windows change at once.
           "welcome-dialog-last-shown-version='999'\n"
           "[org/gnome/desktop/screensaver]\nlock-enabled=false\n"
           "[org/gnome/desktop/session]\nidle-delay=uint32 0\n"
           "[org/gnome/desktop/interface]\nenable-animations=false\n";

    auto environment = this->environment();
    environment["XDG_DATA_DIRS"] = "/usr/share"; // the system's extensions and schemas, nothing of /usr/local
    for (const auto& [key, value] : options.environment)
        environment[key] = value;
    server_ = Process::spawn({"gnome-shell", "--wayland", "--headless", "--sm-disable", "--virtual-monitor", "1280x800",
                              "--wayland-display=wayland-1"},
                             {.environment = environment}, error);

    // Up once Eval answers, the extensions enabled by then and Xwayland's display
    // set; out of the overview it opens on, as a user leaving it.
    std::optional<std::string> state;
    const auto up = [&] {
        if (!server_ || !server_->running()) return true;
        state = eval("Main.overview.hide(); const GLib = imports.gi.GLib;"
                     "[Main.overview.visible, GLib.getenv('DISPLAY'), GLib.getenv('XAUTHORITY')].join(' ')",
                     error);
        if (state && state->starts_with("\"false :")) return true;
        std::this_thread::sleep_for(50ms);
        return false;
    };
    if (!x11::testing::waitUntil(up, 60s) || !server_ || !server_->running()) {
        error = server_ && server_->exitCode(0ms) == 127
                    ? "gnome-shell is not installed (scripts/test installs it)"
                    : "gnome-shell did not come up: " + error + " (QUELLAN_X11_TEST_VERBOSE=1 shows its output)";
        return false;
    }
    std::istringstream words(state->substr(1, state->size() - 2));
    std::string visible;
    words >> visible >> xDisplay_ >> xAuthority_;
    display_ = runtime_ + "/wayland-1";
    return true;
}

std::optional<std::string> WaylandSession::eval(const std::string& code, std::string& error) {
    const QString bus = QString::fromStdString(busAddress_);
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "Eval");
    call << QString::fromStdString(code);
    const QDBusMessage reply = QDBusConnection::connectToBus(bus, bus).call(call, QDBus::Block, 10000);
    const QList<QVariant> answer = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || answer.size() != 2) {
        error = "Eval: " + reply.errorMessage().toStdString();
        return std::nullopt;
    }
    if (!answer[0].toBool()) {
        error = answer[1].toString().isEmpty() ? "the shell is not in unsafe mode" : answer[1].toString().toStdString();
        return std::nullopt;
    }
    return answer[1].toString().toStdString();
}

bool WaylandSession::setExtensionEnabled(const std::string& uuid, bool enabled, std::string& error) {
    const auto asked = eval(std::string("Main.extensionManager.") + (enabled ? "enable" : "disable") + "Extension(" +
                                quoted(uuid) + ")",
                            error);
    if (asked != "true") {
        if (asked) error = uuid + " is not installed";
        return false;
    }
    // 1 is enabled, 3 failed.
    const std::string look =
        "(e => e.state === 3 ? 'failed: ' + e.error : e.state === 1)(Main.extensionManager.lookup(" + quoted(uuid) +
        "))";
    const std::string wanted = enabled ? "true" : "false";
    std::optional<std::string> state;
    const auto settled = [&] {
        state = eval(look, error);
        return !state || *state == wanted || state->starts_with("\"failed");
    };
    if (x11::testing::waitUntil(settled, 10s) && state == wanted) return true;
    if (state) error = uuid + " " + *state;
    return false;
}

} // namespace quellan::wayland::testing
