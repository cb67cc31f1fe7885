// The tray on a real display: an Xvfb of the test's own, without a tray at
// first, then with an XEmbed tray. The test program is also the child the
// tray test watches; everything else draws off screen.
#include "Platform/qt/QtDesktop.hpp"
#include "XTestEnvironment.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

namespace quellan::qt {
namespace {

using namespace std::chrono_literals;
using namespace x11::testing;

// Says on standard output what the tray observer sees, until ended.
int runTrayChild(int& argc, char** argv) {
    auto framework = makeFramework(argc, argv, {.trayPollInterval = 50ms});
    if (!framework) return 1;
    framework->setSystemTrayObserver([](bool waiting) {
        std::printf("%s\n", waiting ? "waiting" : "shown");
        std::fflush(stdout);
    });
    const auto item = framework->systemStatusBar().statusItemWithLength(appkit::kVariableStatusItemLength);
    item->button()->setImage(framework->imageWithSystemSymbolName("macwindow.on.rectangle", "Quellan"));
    framework->sharedApplication().run();
    return 0;
}

// Every line the child says until `last`, or until it falls silent.
void readUntil(Process& child, const std::string& last, std::vector<std::string>& lines) {
    while (const auto line = child.readLine(20s)) {
        lines.push_back(*line);
        if (*line == last) return;
    }
}

TEST(SystemTray, WaitsSayingSoOnceThenShowsTheIconWhenATrayAppears) {
    std::string error;
    const auto server = XServer::start(error);
    ASSERT_NE(server, nullptr) << error;
    // No session bus: Qt must take the XEmbed tray rather than wait on D-Bus.
    // A home and runtime folder of its own, private as Qt wants it.
    const std::string home = "/tmp/quellan-tray" + server->display().substr(1);
    std::filesystem::create_directories(home);
    std::filesystem::permissions(home, std::filesystem::perms::owner_all);
    const auto child = Process::spawn({"/proc/self/exe", "--tray-child"},
                                      {.environment = {{"DISPLAY", server->display()},
                                                       {"HOME", home},
                                                       {"XDG_CONFIG_HOME", home},
                                                       {"XDG_RUNTIME_DIR", home},
                                                       {"QT_QPA_PLATFORM", "xcb"},
                                                       {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}},
                                       .pipes = true,
                                       .errorToOutput = true},
                                      error);
    ASSERT_NE(child, nullptr) << error;
    std::vector<std::string> lines;
    readUntil(*child, "waiting", lines);
    // Several looks for a tray, none of them said.
    std::this_thread::sleep_for(300ms);
    const auto tray = TrayHost::start(server->display(), error);
    ASSERT_NE(tray, nullptr) << error;
    readUntil(*child, "shown", lines);

    const std::string message =
        "quellan: waiting for a system tray (status notifier host or XEmbed tray) to appear\xE2\x80\xA6";
    const std::string said = ::testing::PrintToString(lines);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), message), 1) << said;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "waiting"), 1) << said;
    EXPECT_EQ(lines.empty() ? "" : lines.back(), "shown") << said;
    std::filesystem::remove_all(home);
}

} // namespace
} // namespace quellan::qt

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--tray-child") == 0) return quellan::qt::runTrayChild(argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
