// The monitor's settings and life: loading, the setters, start and stop.
#include "Support.hpp"

#include <gtest/gtest.h>

namespace quellan {
namespace {

using testing_support::MonitorFixture;

TEST(MonitorSettings, LoadingTakesValidValuesAndFallsBackWithoutWritingBack) {
    simulated::SimulatedDesktop desktop;
    platform::ScopedBackends installed{desktop.backends()};
    struct Row {
        std::optional<std::int64_t> storedLimit, storedMinutes;
        bool enabled;
        std::int64_t limit;
        std::optional<std::int64_t> inactive;
    };
    const std::vector<Row> table{
        {std::nullopt, std::nullopt, false, 3, std::nullopt},
        {0, std::nullopt, false, 3, std::nullopt},
        {11, std::nullopt, false, 3, std::nullopt},
        {1, std::nullopt, false, 1, std::nullopt},
        {10, 15, false, 10, std::nullopt},
        {7, 60, true, 7, 60},
        {std::nullopt, 20, true, 3, std::nullopt},
        {std::nullopt, std::nullopt, true, 3, std::nullopt},
    };
    for (std::size_t i = 0; i < table.size(); ++i) {
        auto defaults = std::make_shared<platform::InMemoryUserDefaults>();
        const Row& row = table[i];
        if (row.storedLimit) defaults->setInteger(*row.storedLimit, WindowMonitor::windowLimitKey);
        if (row.storedMinutes) defaults->setInteger(*row.storedMinutes, WindowMonitor::inactiveMinutesKey);
        defaults->setBool(row.enabled, WindowMonitor::inactiveMinimizeEnabledKey);
        const int writes = defaults->writeCount();
        const auto monitor = WindowMonitor::create(std::make_shared<AccessibilityWindowSource>(), defaults);
        EXPECT_EQ(monitor->limit, row.limit) << "row " << i;
        EXPECT_EQ(monitor->inactiveMinutes, row.inactive) << "row " << i;
        EXPECT_EQ(defaults->writeCount(), writes) << "row " << i;
    }
}

TEST(MonitorSettings, SettersTakeOnlySupportedValuesPersistThemAndScan) {
    MonitorFixture f;
    f.monitor->setLimit(0);
    f.monitor->setLimit(11);
    f.monitor->setInactiveMinutes(7);
    EXPECT_EQ(f.monitor->limit, 3);
    EXPECT_EQ(f.defaults->writeCount(), 0);
    EXPECT_TRUE(f.published.empty());

    f.monitor->setLimit(10);
    f.monitor->setInactiveMinutes(30);
    EXPECT_EQ(f.last().limit, 10);
    EXPECT_EQ(f.last().inactiveMinutes, 30);
    const auto reload = [&] {
        return WindowMonitor::create(std::make_shared<AccessibilityWindowSource>(), f.defaults);
    };
    EXPECT_EQ(reload()->limit, 10);
    EXPECT_EQ(reload()->inactiveMinutes, 30);
    f.monitor->setInactiveMinutes(std::nullopt);
    EXPECT_FALSE(f.last().inactiveMinutes);
    EXPECT_FALSE(reload()->inactiveMinutes);
    EXPECT_EQ(f.defaults->integerForKey(WindowMonitor::inactiveMinutesKey), 30) << "the last period stays";
}

TEST(MonitorLife, StartPromptsOnceThenTicksUntilStopped) {
    MonitorFixture f;
    f.desktop.trusted = false;
    f.monitor->start();
    EXPECT_EQ(f.desktop.counts().trustPrompt, 1);
    ASSERT_EQ(f.published.size(), 1u) << "the first state arrives before start returns";

    f.open(100, "a");
    f.desktop.trusted = true;
    EXPECT_EQ(f.runLoop.advance(0.34), 0);
    EXPECT_EQ(f.runLoop.advance(3.5 - 0.34), 10);
    EXPECT_EQ(f.last().visibleWindowCount, 1) << "trust granted later is picked up at a tick";
    EXPECT_EQ(f.desktop.counts().trustPrompt, 1);
    f.monitor->stop();
    EXPECT_EQ(f.runLoop.advance(60), 0);
}

TEST(MonitorLife, WhereTheDesktopTellsItsChangesScansRestBetweenThem) {
    MonitorFixture f;
    f.desktop.tellsChanges = true;
    f.open(100, "a");
    f.monitor->start();
    EXPECT_EQ(f.runLoop.advance(600), 0) << "nothing changed and nothing pending";

    f.desktop.focus(f.open(200, "b"));
    f.desktop.announceChange();
    f.desktop.announceChange();
    EXPECT_EQ(f.runLoop.advance(0.01), 1) << "a change is scanned at once, once";
    EXPECT_EQ(f.last().visibleWindowCount, 2);
    f.desktop.announceChange();
    EXPECT_EQ(f.runLoop.advance(0.33), 0) << "but never sooner than a tick after the last scan";
    EXPECT_EQ(f.runLoop.advance(0.02), 1);

    f.desktop.settled = false;
    f.desktop.announceChange();
    EXPECT_EQ(f.runLoop.advance(3.5), 10) << "something pending: ticking";
    f.desktop.settled = true;
    EXPECT_EQ(f.runLoop.advance(3.5), 1);

    f.monitor->setDurationsShown(true);
    EXPECT_EQ(f.last().activeWindows.back().openDurationSeconds, 607) << "scanned as they come on screen";
    EXPECT_EQ(f.runLoop.advance(3.5), 10) << "and kept current";
    f.monitor->setDurationsShown(false);
    EXPECT_EQ(f.runLoop.advance(3.5), 1);
}

TEST(MonitorLife, ARestEndsWhenAWindowFallsInactiveAndAtLeastEveryMinuteBefore) {
    MonitorFixture f;
    f.desktop.tellsChanges = true;
    const auto a = f.open(100, "a");
    f.desktop.focus(f.open(200, "b"));
    f.monitor->setInactiveMinutes(5);
    f.monitor->start();
    EXPECT_EQ(f.runLoop.advance(299), 4);
    EXPECT_FALSE(f.isMinimized(a));
    EXPECT_LE(f.runLoop.advance(1.5), 3);
    EXPECT_TRUE(f.isMinimized(a));
    EXPECT_EQ(f.runLoop.advance(600), 0) << "the focused window is never due";
}

} // namespace
} // namespace quellan
