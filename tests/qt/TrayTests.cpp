// The tray on a real display: an Xvfb of the test's own, without a tray
// at first, then with trayer, an XEmbed tray.
#include "Platform/qt/QtInternal.hpp"
#include "QtTestSupport.hpp"
#include "XTestEnvironment.hpp"

#include <QCoreApplication>
#include <QSystemTrayIcon>
#include <QTimer>

#include <climits>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace quellan::qt::testing {

namespace {

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

class ChildDelegate : public appkit::ApplicationDelegate {
public:
    void applicationDidFinishLaunching() override { say("launched"); }
    void applicationWillTerminate() override { say("terminating"); }
};

} // namespace

// Reports on standard output what the tray test watches for; its standard
// error goes there too, to show the backend's own message. Ends on SIGTERM,
// as a session ends it.
int runTrayChild(int& argc, char** argv) {
    dup2(STDOUT_FILENO, STDERR_FILENO);
    auto framework = makeFramework(argc, argv, {.trayPollInterval = std::chrono::milliseconds(50)});
    if (!framework) return 1;
    appkit::installFramework(framework.get());
    auto delegate = std::make_shared<ChildDelegate>();
    appkit::Application& application = framework->sharedApplication();
    application.setDelegate(delegate);

    framework->setSystemTrayObserver([](bool waiting) { say(waiting ? "waiting" : "shown"); });
    const auto item = framework->systemStatusBar().statusItemWithLength(appkit::kVariableStatusItemLength);
    item->button()->setImage(framework->imageWithSystemSymbolName("macwindow.on.rectangle", "Quellan"));
    item->button()->setTitle("3");
    auto menu = std::make_shared<appkit::Menu>();
    menu->addItem(appkit::MenuItem("Quit Quellan", "terminate:", "q"));
    item->setMenu(menu);

    // Heartbeats while waiting, then the icon's place once it has one.
    QTimer report;
    bool placed = false;
    QObject::connect(&report, &QTimer::timeout, [&] {
        if (framework->waitingForSystemTray()) {
            say("still waiting");
        } else if (QSystemTrayIcon* tray = internal::trayIconOf(*item);
                   !placed && tray && tray->isVisible() && tray->geometry().width() > 0) {
            placed = true;
            const bool withMenu = tray->contextMenu() != nullptr && tray->contextMenu() == internal::menuOf(*item);
            say("embedded " + std::to_string(tray->geometry().width()) + "x" +
                std::to_string(tray->geometry().height()) + (withMenu ? " with its menu" : " without a menu"));
        }
    });
    report.start(50);

    application.run();
    appkit::installFramework(nullptr);
    return 0;
}

namespace {

using namespace std::chrono_literals;
using x11::testing::Process;
using x11::testing::XServer;

std::string selfPath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// Reads lines until one starts with `prefix`; every line read is kept.
bool readUntil(Process& process, const std::string& prefix, std::vector<std::string>& lines,
               std::chrono::milliseconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const auto line = process.readLine(remaining);
        if (!line) return false;
        lines.push_back(*line);
        if (line->starts_with(prefix)) return true;
    }
    return false;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

std::unique_ptr<Process> startChild(const std::string& display, std::string& error) {
    // No session bus: Qt must take the XEmbed tray rather than wait on D-Bus.
    return Process::spawn({selfPath(), "--tray-child"},
                          {.environment = {{"DISPLAY", display},
                                           {"QT_QPA_PLATFORM", "xcb"},
                                           {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}},
                           .pipes = true},
                          error);
}

TEST(SystemTray, WaitsSayingSoOnceThenShowsTheIconWhenATrayAppears) {
    if (!x11::testing::findProgram("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
    if (!x11::testing::findProgram("trayer")) GTEST_SKIP() << "trayer is not installed";
    std::string error;
    const auto server = XServer::start(error);
    ASSERT_NE(server, nullptr) << error;
    const auto probe = x11::testing::Probe::connect(server->display(), error);
    ASSERT_NE(probe, nullptr) << error;
    ASSERT_FALSE(probe->selectionOwned("_NET_SYSTEM_TRAY_S0"));

    const auto child = startChild(server->display(), error);
    ASSERT_NE(child, nullptr) << error;
    std::vector<std::string> lines;
    ASSERT_TRUE(readUntil(*child, "waiting", lines)) << joined(lines);
    ASSERT_TRUE(readUntil(*child, "launched", lines)) << joined(lines);
    // Several looks for a tray, none of them a second message.
    for (int beat = 0; beat < 5; ++beat)
        ASSERT_TRUE(readUntil(*child, "still waiting", lines)) << joined(lines);

    const auto tray = x11::testing::TrayHost::start(server->display(), error);
    ASSERT_NE(tray, nullptr) << error;
    ASSERT_TRUE(readUntil(*child, "shown", lines)) << joined(lines);
    ASSERT_TRUE(readUntil(*child, "embedded", lines)) << joined(lines);

    const std::string message =
        "quellan: waiting for a system tray (status notifier host or XEmbed tray) to appear\xE2\x80\xA6";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), message), 1) << joined(lines);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "waiting"), 1) << joined(lines);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "shown"), 1) << joined(lines);
    // The message came before the wait, and nothing was shown before the tray.
    const auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line); };
    EXPECT_LT(at(message), at("waiting"));

    EXPECT_TRUE(lines.back().ends_with(" with its menu")) << joined(lines);

    // A session's SIGTERM ends it the ordinary way, through the delegate.
    ::kill(child->pid(), SIGTERM);
    EXPECT_TRUE(readUntil(*child, "terminating", lines, 2s)) << joined(lines);
}

} // namespace
} // namespace quellan::qt::testing
