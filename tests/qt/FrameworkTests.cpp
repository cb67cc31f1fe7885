// Menus and timers of the Qt backend, off screen.
#include "Platform/qt/QtDesktop.hpp"
#include "Platform/qt/QtInternal.hpp"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QPointer>
#include <gtest/gtest.h>

namespace quellan::qt {
namespace {

using appkit::Menu;
using appkit::MenuItem;

bool spinUntil(const std::function<bool()>& condition) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > 10000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

class QtTest : public ::testing::Test {
protected:
    void SetUp() override {
        static char name[] = "quellan_qt_tests";
        static char* argv[] = {name, nullptr};
        static int argc = 1;
        ASSERT_TRUE(framework_ = makeFramework(argc, argv, {.handleTerminationSignals = false}));
        statusItem_ = framework_->systemStatusBar().statusItemWithLength(appkit::kVariableStatusItemLength);
    }
    QMenu* shown() { return internal::menuOf(*statusItem_); }
    static QAction* row(QMenu* menu, int index) { return menu->actions().at(index); }

    std::unique_ptr<QtFramework> framework_;
    std::shared_ptr<appkit::StatusItem> statusItem_; // goes first, before the framework
};

MenuItem item(const std::string& title, appkit::ControlState state = appkit::ControlState::off) {
    MenuItem entry(title, "choose:", "");
    entry.state = state;
    return entry;
}

// Disabled rows and key equivalents are the end-to-end tests' part, driven with the keyboard.
TEST_F(QtTest, MenuIsBuiltFromTheModelAndShowsTextLiterally) {
    auto menu = std::make_shared<Menu>();
    menu->addItem(MenuItem::separatorItem());
    menu->addItem(item("Pause && Resume & Co", appkit::ControlState::on));
    MenuItem limits("Window Limit", std::nullopt, "");
    limits.submenu = std::make_shared<Menu>();
    limits.submenu->addItem(item("1"));
    limits.submenu->addItem(item("2", appkit::ControlState::on));
    menu->addItem(limits);
    // Other programs' text: shortened, whole in the tooltip, its direction marks kept to itself.
    const std::string title = std::string(4000, 'W') + "\u202Eevil";
    MenuItem window("Editor - " + title + " - 6s", std::nullopt, "");
    window.quotedRanges = {{0, 6}, {9, title.size()}};
    menu->addItem(window);
    statusItem_->setMenu(menu);

    ASSERT_NE(shown(), nullptr);
    ASSERT_EQ(shown()->actions().size(), 4);
    EXPECT_TRUE(row(shown(), 0)->isSeparator());
    // Every & doubled, so that none becomes a mnemonic.
    EXPECT_EQ(row(shown(), 1)->text(), QStringLiteral("Pause &&&& Resume && Co"));
    EXPECT_TRUE(row(shown(), 1)->isChecked());
    QMenu* submenu = row(shown(), 2)->menu();
    ASSERT_NE(submenu, nullptr);
    EXPECT_FALSE(row(submenu, 0)->isChecked());
    EXPECT_TRUE(row(submenu, 1)->isChecked());
    const QString text = row(shown(), 3)->text();
    EXPECT_TRUE(text.startsWith(u"\u2068Editor\u2069 - \u2068WWW") && text.endsWith(u"evil\u2069 - 6s")) << text.size();
    EXPECT_LT(shown()->sizeHint().width(), 1000);
    EXPECT_EQ(row(shown(), 3)->toolTip(),
              QString::fromStdString("\u2068Editor\u2069 - \u2068" + title + "\u2069 - 6s"));
}

// Labels tick every second: they are retitled in place. Any other change
// to an open menu waits until it closes, not to close it under the pointer.
TEST_F(QtTest, MenuUpdatesRetitleInPlaceAndWaitForAnOpenMenuToClose) {
    struct Delegate : appkit::MenuDelegate {
        std::function<void()> willOpen;
        int closed = 0;
        void menuWillOpen() override { std::exchange(willOpen, nullptr)(); }
        void menuDidClose() override { ++closed; }
    };
    const auto delegate = std::make_shared<Delegate>();
    const auto model = [&](int checked, const std::string& label) {
        auto menu = std::make_shared<Menu>();
        menu->addItem(MenuItem(label, std::nullopt, ""));
        for (int limit = 1; limit <= 2; ++limit)
            menu->addItem(
                item(std::to_string(limit), limit == checked ? appkit::ControlState::on : appkit::ControlState::off));
        menu->delegate = delegate;
        return menu;
    };
    statusItem_->setMenu(model(1, "open 5s"));
    QPointer<QMenu> first = shown();
    statusItem_->setMenu(model(1, "open 5.5s"));
    EXPECT_EQ(shown(), first.data());
    EXPECT_EQ(row(first, 0)->text(), QStringLiteral("open 5s")) << "closed: retitled as it opens";

    // What the delegate publishes as it is told of the opening is what shows.
    delegate->willOpen = [&] { statusItem_->setMenu(model(1, "open 6s & more")); };
    first->popup(QPoint(10, 10));
    ASSERT_TRUE(spinUntil([&] { return first->isVisible(); }));
    EXPECT_EQ(row(first, 0)->text(), QStringLiteral("open 6s && more"));
    statusItem_->setMenu(model(1, "open 7s"));
    EXPECT_EQ(row(first, 0)->text(), QStringLiteral("open 7s"));
    statusItem_->setMenu(model(2, "open 8s"));
    statusItem_->setMenu(model(2, "open 9s"));
    QCoreApplication::processEvents();
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(shown(), first.data());
    EXPECT_TRUE(row(first, 1)->isChecked());

    // Brought up to date once closed, the same menu and rows: a panel
    // follows only the menu it knows, and is told of each row replaced.
    const QPointer<QAction> kept = row(first, 2);
    first->hide();
    ASSERT_TRUE(spinUntil([&] { return row(first, 2)->isChecked(); }));
    EXPECT_EQ(row(first, 2), kept.data());
    EXPECT_EQ(shown(), first.data());
    EXPECT_EQ(row(first, 0)->text(), QStringLiteral("open 9s"));
    EXPECT_EQ(delegate->closed, 1);
}

TEST_F(QtTest, TimersRepeatOrFireOnceAndInvalidateReleasesTheCallback) {
    const auto runLoop = makeRunLoop();
    int repeats = 0, once = 0, selfStopped = 0;
    auto token = std::make_shared<int>();
    const std::weak_ptr<int> captured = token;
    const auto repeating = runLoop->scheduledTimer(0.001, true, [&, token = std::move(token)] { ++repeats; });
    const auto single = runLoop->scheduledTimer(0.001, false, [&] { ++once; });
    std::shared_ptr<platform::Timer> stopping;
    stopping = runLoop->scheduledTimer(0.001, true, [&] {
        ++selfStopped;
        stopping->invalidate();
    });
    ASSERT_TRUE(spinUntil([&] { return repeats >= 3; }));
    EXPECT_FALSE(captured.expired());
    repeating->invalidate();
    EXPECT_TRUE(captured.expired()) << "the captures must go with invalidate, not with the timer object";
    EXPECT_FALSE(repeating->isValid());
    EXPECT_FALSE(single->isValid());
    EXPECT_FALSE(stopping->isValid());

    // Turns of the loop enough for any of them to have ticked again.
    const int stopped = repeats;
    int witness = 0;
    const auto counter = runLoop->scheduledTimer(0.001, true, [&] { ++witness; });
    ASSERT_TRUE(spinUntil([&] { return witness >= 5; }));
    EXPECT_EQ(repeats, stopped);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(selfStopped, 1);
}

} // namespace
} // namespace quellan::qt
