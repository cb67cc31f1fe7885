#include "QtTestSupport.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QThread>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace quellan::qt::testing {

// TrayTests.cpp: the process on the real display the tray test watches.
int runTrayChild(int& argc, char** argv);

namespace {
int savedArgc = 0;
char** savedArgv = nullptr;
} // namespace

int& programArgc() { return savedArgc; }
char**& programArgv() { return savedArgv; }

bool spinUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > limit.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(1);
    }
    return true;
}

void drainEvents() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void FrameworkTest::SetUp() {
    framework_ = makeFramework(programArgc(), programArgv(), {.handleTerminationSignals = false});
    ASSERT_NE(framework_, nullptr);
}

void FrameworkTest::TearDown() { framework_.reset(); }

} // namespace quellan::qt::testing

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--tray-child") == 0) {
        return quellan::qt::testing::runTrayChild(argc, argv);
    }
    // Everything but the tray test draws off screen; ctest sets this too.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Qt warns in every test without one.
    char runtime[] = "/tmp/quellan-runtime-XXXXXX";
    const bool ownRuntime = std::getenv("XDG_RUNTIME_DIR") == nullptr && mkdtemp(runtime) != nullptr;
    if (ownRuntime) setenv("XDG_RUNTIME_DIR", runtime, 1);
    ::testing::InitGoogleTest(&argc, argv);
    quellan::qt::testing::programArgc() = argc;
    quellan::qt::testing::programArgv() = argv;
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    if (ownRuntime) std::filesystem::remove_all(runtime, ignored);
    return result;
}
