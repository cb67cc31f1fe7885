#include "Platform/qt/QtInternal.hpp"
#include "QtTestSupport.hpp"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace quellan::qt {
namespace {

using appkit::Menu;
using appkit::MenuItem;
using testing::drainEvents;
using testing::FrameworkTest;
using testing::spinUntil;

struct Received {
    std::string selector;
    std::string title;
    std::optional<std::int64_t> number;
};

class RecordingTarget : public appkit::MenuTarget {
public:
    void performAction(std::string_view selector, const MenuItem& sender) override {
        received.push_back({std::string(selector), sender.title, sender.integerRepresentedObject()});
        if (onAction) onAction(sender);
    }
    std::vector<Received> received;
    std::function<void(const MenuItem&)> onAction;
};

MenuItem item(const std::string& title, const std::shared_ptr<appkit::MenuTarget>& target,
              std::optional<std::string> action = "choose:") {
    MenuItem entry(title, std::move(action), "");
    entry.target = target;
    return entry;
}

// Actions as QMenu shows them, separators included.
std::vector<QAction*> actionsOf(QMenu* menu) {
    const auto list = menu->actions();
    return {list.begin(), list.end()};
}

class MenuTest : public FrameworkTest {
protected:
    void SetUp() override {
        FrameworkTest::SetUp();
        statusItem_ = framework_->systemStatusBar().statusItemWithLength(appkit::kVariableStatusItemLength);
        target_ = std::make_shared<RecordingTarget>();
    }
    void TearDown() override {
        statusItem_.reset();
        FrameworkTest::TearDown();
    }
    QMenu* shown() { return internal::menuOf(*statusItem_); }

    std::shared_ptr<appkit::StatusItem> statusItem_;
    std::shared_ptr<RecordingTarget> target_;
};

TEST_F(MenuTest, ModelBecomesAQMenuShownLiterally) {
    auto menu = std::make_shared<Menu>();
    MenuItem limit = item("Limit: 3 windows", target_, std::nullopt);
    limit.enabled = false;
    menu->addItem(limit);
    menu->addItem(MenuItem::separatorItem());
    MenuItem pause = item("Pause && Resume & Co", target_);
    pause.state = appkit::ControlState::on;
    menu->addItem(pause);
    menu->addItem(item("Preferences\xE2\x80\xA6", target_));
    menu->addItem(item("Tabs\there\nand lines", target_));
    auto submenu = std::make_shared<Menu>();
    for (int limitValue = 1; limitValue <= 3; ++limitValue) {
        MenuItem choice = item(std::to_string(limitValue), target_);
        choice.representedObject = std::int64_t{limitValue};
        if (limitValue == 2) choice.state = appkit::ControlState::on;
        submenu->addItem(choice);
    }
    MenuItem limits("Window Limit", std::nullopt, "");
    limits.submenu = submenu;
    menu->addItem(limits);
    MenuItem quit = item("Quit Quellan", target_);
    quit.keyEquivalent = "q";
    menu->addItem(quit);
    statusItem_->setMenu(menu);

    ASSERT_NE(shown(), nullptr);
    const auto actions = actionsOf(shown());
    ASSERT_EQ(actions.size(), 7u);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Limit: 3 windows"));
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_TRUE(actions[1]->isSeparator());
    // Shown as written: every & is doubled so none becomes a mnemonic.
    EXPECT_EQ(actions[2]->text(), QStringLiteral("Pause &&&& Resume && Co"));
    EXPECT_TRUE(actions[2]->isCheckable() && actions[2]->isChecked());
    EXPECT_FALSE(actions[3]->isChecked());
    EXPECT_EQ(actions[3]->text(), QString::fromUtf8("Preferences\xE2\x80\xA6"));
    EXPECT_EQ(actions[4]->text(), QStringLiteral("Tabs here and lines"));
    ASSERT_NE(actions[5]->menu(), nullptr);
    EXPECT_EQ(actions[5]->text(), QStringLiteral("Window Limit"));
    const auto choices = actionsOf(actions[5]->menu());
    ASSERT_EQ(choices.size(), 3u);
    EXPECT_EQ(choices[0]->text(), QStringLiteral("1"));
    EXPECT_FALSE(choices[0]->isChecked());
    EXPECT_TRUE(choices[1]->isChecked());
    EXPECT_EQ(actions[6]->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
}

TEST_F(MenuTest, ChoosingAnItemDeliversItsActionOnceAfterTheSignal) {
    auto submenu = std::make_shared<Menu>();
    MenuItem four = item("4", target_, "setLimit:");
    four.representedObject = std::int64_t{4};
    submenu->addItem(four);
    auto menu = std::make_shared<Menu>();
    MenuItem limits("Window Limit", std::nullopt, "");
    limits.submenu = submenu;
    menu->addItem(limits);
    statusItem_->setMenu(menu);
    // The menu keeps copies of the items: the model may go.
    menu.reset();

    QAction* choice = actionsOf(actionsOf(shown())[0]->menu())[0];
    choice->trigger();
    EXPECT_TRUE(target_->received.empty()) << "delivered from inside the menu's signal";
    drainEvents();
    ASSERT_EQ(target_->received.size(), 1u);
    EXPECT_EQ(target_->received[0].selector, "setLimit:");
    EXPECT_EQ(target_->received[0].title, "4");
    EXPECT_EQ(target_->received[0].number, 4);
    drainEvents();
    EXPECT_EQ(target_->received.size(), 1u);
}

TEST_F(MenuTest, DisabledItemsLabelsAndLostTargetsDoNothing) {
    auto menu = std::make_shared<Menu>();
    MenuItem disabled = item("Disabled", target_);
    disabled.enabled = false;
    menu->addItem(disabled);
    menu->addItem(item("Label", target_, std::nullopt));
    auto gone = std::make_shared<RecordingTarget>();
    menu->addItem(item("Orphan", gone));
    statusItem_->setMenu(menu);
    gone.reset();

    for (QAction* action : actionsOf(shown())) {
        // Qt refuses a disabled action; force the signal to show ours refuses too.
        emit action->triggered(false);
        action->trigger();
    }
    drainEvents();
    EXPECT_TRUE(target_->received.empty());
}

TEST_F(MenuTest, ActionMayRebuildTheMenuThatDeliveredIt) {
    int rebuilds = 0;
    std::function<std::shared_ptr<Menu>()> build = [&] {
        auto menu = std::make_shared<Menu>();
        menu->addItem(item("Rebuild " + std::to_string(rebuilds), target_));
        return menu;
    };
    target_->onAction = [&](const MenuItem&) {
        ++rebuilds;
        statusItem_->setMenu(build());
    };
    statusItem_->setMenu(build());
    QPointer<QMenu> first = shown();

    // Chosen the way a person does: open the menu and press Return on the item.
    first->popup(QPoint(10, 10));
    ASSERT_TRUE(spinUntil([&] { return first->isVisible(); }));
    first->setActiveAction(actionsOf(first)[0]);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(first, &press);
    ASSERT_TRUE(spinUntil([&] { return rebuilds == 1 && first.isNull(); }));
    EXPECT_EQ(actionsOf(shown())[0]->text(), QStringLiteral("Rebuild 1"));

    // And again from the new menu, twice in one turn.
    QAction* next = actionsOf(shown())[0];
    next->trigger();
    next->trigger();
    ASSERT_TRUE(spinUntil([&] { return rebuilds == 3; }));
    EXPECT_EQ(actionsOf(shown())[0]->text(), QStringLiteral("Rebuild 3"));
    EXPECT_EQ(target_->received.size(), 3u);

    QPointer<QMenu> last = shown();
    statusItem_->setMenu(nullptr);
    EXPECT_EQ(shown(), nullptr);
    drainEvents();
    EXPECT_TRUE(last.isNull()) << "a replaced menu must not leak";
}

TEST_F(MenuTest, OpenMenuStaysUntilClosedThenShowsTheNewestModel) {
    const auto titled = [&](const std::string& title) {
        auto menu = std::make_shared<Menu>();
        menu->addItem(item(title, target_));
        return menu;
    };
    statusItem_->setMenu(titled("First"));
    QPointer<QMenu> open = shown();
    open->popup(QPoint(10, 10));
    ASSERT_TRUE(spinUntil([&] { return open->isVisible(); }));

    // Published while a person reads it: the same menu stays open, unchanged.
    statusItem_->setMenu(titled("Second"));
    statusItem_->setMenu(titled("Third"));
    drainEvents();
    ASSERT_FALSE(open.isNull());
    EXPECT_EQ(shown(), open.data());
    EXPECT_TRUE(open->isVisible());
    EXPECT_EQ(actionsOf(open)[0]->text(), QStringLiteral("First"));

    // Closed: the newest model only, and the old menu freed.
    open->hide();
    ASSERT_TRUE(spinUntil([&] { return open.isNull(); }));
    ASSERT_NE(shown(), nullptr);
    EXPECT_EQ(actionsOf(shown())[0]->text(), QStringLiteral("Third"));

    // No menu asked for while open: none once closed.
    QPointer<QMenu> again = shown();
    again->popup(QPoint(10, 10));
    ASSERT_TRUE(spinUntil([&] { return again->isVisible(); }));
    statusItem_->setMenu(nullptr);
    EXPECT_EQ(shown(), again.data());
    again->hide();
    ASSERT_TRUE(spinUntil([&] { return again.isNull(); }));
    EXPECT_EQ(shown(), nullptr);
}

TEST_F(MenuTest, AlikeModelKeepsTheMenuAndRetitlesItsLabels) {
    const auto limitMenu = [&](int checked, const std::string& label) {
        auto menu = std::make_shared<Menu>();
        for (int limit = 1; limit <= 2; ++limit) {
            MenuItem row = item(std::to_string(limit), target_);
            row.state = limit == checked ? appkit::ControlState::on : appkit::ControlState::off;
            menu->addItem(row);
        }
        auto submenu = std::make_shared<Menu>();
        submenu->addItem(item(label, target_, std::nullopt));
        MenuItem parent = item("Active", target_, std::nullopt);
        parent.submenu = submenu;
        menu->addItem(parent);
        return menu;
    };
    const auto labelOf = [&](QMenu* menu) { return actionsOf(actionsOf(menu)[2]->menu())[0]->text(); };
    statusItem_->setMenu(limitMenu(1, "open 5s"));
    QPointer<QMenu> first = shown();
    statusItem_->setMenu(limitMenu(1, "open 5s"));
    statusItem_->setMenu(limitMenu(1, "open 6s & more"));
    drainEvents();
    EXPECT_EQ(shown(), first.data()) << "alike: the same menu";
    EXPECT_EQ(labelOf(shown()), QStringLiteral("open 6s && more"));
    statusItem_->setMenu(limitMenu(2, "open 6s"));
    drainEvents();
    EXPECT_TRUE(first.isNull()) << "another check replaces it";
    ASSERT_TRUE(actionsOf(shown())[1]->isChecked());

    // Open, labels tick on in place.
    QPointer<QMenu> open = shown();
    open->popup(QPoint(10, 10));
    ASSERT_TRUE(spinUntil([&] { return open->isVisible(); }));
    statusItem_->setMenu(limitMenu(2, "open 7s"));
    EXPECT_EQ(labelOf(open), QStringLiteral("open 7s"));

    // Choosing the checked row unchecks it in Qt; the model republished as
    // it was must show the check again.
    actionsOf(open)[1]->trigger();
    open->hide();
    ASSERT_TRUE(spinUntil([&] { return target_->received.size() == 1; }));
    statusItem_->setMenu(limitMenu(2, "open 7s"));
    drainEvents();
    EXPECT_NE(shown(), open.data());
    EXPECT_TRUE(actionsOf(shown())[1]->isChecked());
    EXPECT_EQ(labelOf(shown()), QStringLiteral("open 7s"));
}

// --- status icon ---------------------------------------------------------------

TEST_F(FrameworkTest, KnowsExactlyTheTwoSymbols) {
    const auto windows = framework_->imageWithSystemSymbolName("macwindow.on.rectangle", "Quellan");
    ASSERT_TRUE(windows);
    EXPECT_EQ(*windows, (appkit::Image{"macwindow.on.rectangle", "Quellan"}));
    EXPECT_EQ(framework_->imageWithSystemSymbolName("exclamationmark.triangle", "Needs attention"),
              (appkit::Image{"exclamationmark.triangle", "Needs attention"}));
    for (const char* unknown : {"macwindow", "", "exclamationmark.triangle.fill"})
        EXPECT_FALSE(framework_->imageWithSystemSymbolName(unknown, "x")) << unknown;
}

struct Coverage {
    int opaque = 0;
    // Both light and dark pixels: a dark outline round a light or coloured
    // fill shows on any panel.
    bool light = false, dark = false;
};

Coverage coverage(const QImage& image) {
    Coverage found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            found.opaque += qAlpha(pixel) > 128;
            found.light = found.light || (qAlpha(pixel) > 200 && qGray(pixel) > 170);
            found.dark = found.dark || (qAlpha(pixel) > 200 && qGray(pixel) < 70);
        }
    return found;
}

TEST_F(FrameworkTest, SymbolsAndBadgesAreDrawnAtEverySize) {
    using internal::Symbol;
    for (const int size : internal::kIconSizes) {
        const QImage windows = internal::renderStatusIcon(Symbol::windows, {}, size);
        const QImage warning = internal::renderStatusIcon(Symbol::warning, {}, size);
        EXPECT_EQ(windows.size(), QSize(size, size));
        EXPECT_NE(windows, warning) << size;
        for (const QImage& image : {windows, warning}) {
            const Coverage drawn = coverage(image);
            // A symbol, not a speck and not a filled square.
            EXPECT_GT(drawn.opaque, size * size / 5) << size;
            EXPECT_LT(drawn.opaque, size * size * 9 / 10) << size;
            EXPECT_TRUE(drawn.light && drawn.dark) << size;
        }
        const QImage three = internal::renderStatusIcon(Symbol::windows, QStringLiteral("3"), size);
        const QImage seven = internal::renderStatusIcon(Symbol::windows, QStringLiteral("7"), size);
        EXPECT_NE(three, seven) << "the digit itself must show, not only a badge; size " << size;
        EXPECT_EQ(internal::renderStatusIcon(Symbol::windows, QStringLiteral("  "), size), windows) << size;
        // The badge sits on the symbol's lower right, leaving its upper left alone.
        EXPECT_EQ(three.copy(0, 0, size / 3, size / 3), windows.copy(0, 0, size / 3, size / 3)) << size;
    }
    // A title without a symbol is shown by itself; an overlong one still fits.
    EXPECT_EQ(coverage(internal::renderStatusIcon(std::nullopt, {}, 32)).opaque, 0);
    EXPECT_GT(coverage(internal::renderStatusIcon(std::nullopt, QStringLiteral("5"), 22)).opaque, 0);
    EXPECT_EQ(internal::renderStatusIcon(Symbol::warning, QString(200, QLatin1Char('W')), 22).size(), QSize(22, 22));
}

TEST_F(FrameworkTest, StatusButtonSetsIconToolTipAndBadge) {
    const auto statusItem = framework_->systemStatusBar().statusItemWithLength(appkit::kVariableStatusItemLength);
    appkit::StatusBarButton* button = statusItem->button();
    ASSERT_NE(button, nullptr);
    const auto pixels = [&] { return internal::iconOf(*statusItem).pixmap(22, 22).toImage(); };

    button->setImage(framework_->imageWithSystemSymbolName("macwindow.on.rectangle", "Quellan: 2 windows"));
    const QImage normal = pixels();
    EXPECT_EQ(normal, internal::renderStatusIcon(internal::Symbol::windows, {}, 22).convertToFormat(normal.format()));
    EXPECT_EQ(internal::toolTipOf(*statusItem), QStringLiteral("Quellan: 2 windows"))
        << "described by the image until told otherwise";
    button->setToolTip("Keeping at most 4 windows & no more");
    button->setTitle("4");
    const QImage badged = pixels();
    EXPECT_NE(badged, normal);
    button->setImage(framework_->imageWithSystemSymbolName("exclamationmark.triangle", "Needs access"));
    EXPECT_NE(pixels(), badged);
    button->setTitle("");
    button->setImage(framework_->imageWithSystemSymbolName("macwindow.on.rectangle", "Quellan"));
    EXPECT_EQ(pixels(), normal);
    // Set again as they are: not drawn again.
    const qint64 drawn = internal::iconOf(*statusItem).cacheKey();
    button->setTitle("");
    button->setImage(framework_->imageWithSystemSymbolName("macwindow.on.rectangle", "Quellan"));
    EXPECT_EQ(internal::iconOf(*statusItem).cacheKey(), drawn);
    EXPECT_EQ(internal::toolTipOf(*statusItem), QStringLiteral("Keeping at most 4 windows & no more"));
}

TEST_F(FrameworkTest, StatusItemOutlivingTheFrameworkGoesQuiet) {
    auto statusItem = framework_->systemStatusBar().statusItemWithLength(appkit::kVariableStatusItemLength);
    auto menu = std::make_shared<Menu>();
    menu->addItem(MenuItem("Quit", "terminate:", "q"));
    statusItem->setMenu(menu);
    framework_.reset();
    EXPECT_EQ(internal::menuOf(*statusItem), nullptr);
    EXPECT_TRUE(internal::iconOf(*statusItem).isNull());
    statusItem->button()->setTitle("3");
    statusItem->setMenu(menu);
    statusItem.reset();
}

// --- application -------------------------------------------------------------

class RecordingDelegate : public appkit::ApplicationDelegate {
public:
    void applicationDidFinishLaunching() override {
        events.push_back("launched");
        if (onLaunch) onLaunch();
    }
    void applicationWillTerminate() override {
        events.push_back(loopRunning() ? "terminating in loop" : "terminating outside loop");
    }
    static bool loopRunning() { return QCoreApplication::instance() && QThread::currentThread()->loopLevel() > 0; }
    std::vector<std::string> events;
    std::function<void()> onLaunch;
};

TEST_F(FrameworkTest, RunLaunchesOnceFromTheLoopAndTerminateEndsIt) {
    appkit::Application& application = framework_->sharedApplication();
    const auto delegate = std::make_shared<RecordingDelegate>();
    application.setDelegate(delegate);
    EXPECT_TRUE(application.setActivationPolicy(workspace::ActivationPolicy::accessory));
    bool launchedInLoop = false;
    delegate->onLaunch = [&] {
        launchedInLoop = RecordingDelegate::loopRunning();
        // Ended by a tick, as the monitor's quit command would be.
        QTimer::singleShot(1, [&] {
            application.terminate();
            delegate->events.push_back("terminate returned");
            application.terminate();
        });
    };
    application.run();
    delegate->events.push_back("run returned");
    EXPECT_TRUE(launchedInLoop);
    EXPECT_EQ(delegate->events,
              (std::vector<std::string>{"launched", "terminating in loop", "terminate returned", "run returned"}));
    // Once ended it stays ended.
    application.run();
    EXPECT_EQ(delegate->events.size(), 4u);
}

TEST(FrameworkSetup, NoDisplayIsSaidPlainly) {
    const std::string platform = std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
    const std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("WAYLAND_DISPLAY");
    setenv("DISPLAY", ":9999", 1);
    ::testing::internal::CaptureStderr();
    auto framework = makeFramework(testing::programArgc(), testing::programArgv());
    const std::string said = ::testing::internal::GetCapturedStderr();
    unsetenv("DISPLAY");
    ::testing::internal::CaptureStderr();
    auto none = makeFramework(testing::programArgc(), testing::programArgv());
    const std::string saidWithout = ::testing::internal::GetCapturedStderr();
    setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
    if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
    EXPECT_EQ(framework, nullptr);
    EXPECT_EQ(said, "quellan: cannot connect to the X display :9999; start Quellan from within your desktop session\n");
    EXPECT_EQ(none, nullptr);
    EXPECT_NE(saidWithout.find("DISPLAY is not set"), std::string::npos) << saidWithout;
}

} // namespace
} // namespace quellan::qt
