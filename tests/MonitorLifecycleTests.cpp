// The monitor's settings and life: loading, the setters, start and stop
// with the access prompt and the scan timer.
#include "Support.hpp"

#include <gtest/gtest.h>

namespace quellan {
namespace {

using testing_support::MonitorFixture;

struct Stored {
    std::optional<std::int64_t> windowLimit = std::nullopt;
    std::optional<std::int64_t> inactiveMinutes = std::nullopt;
    std::optional<bool> enabled = std::nullopt;
};

TEST(MonitorSettings, LoadingTakesValidValuesAndFallsBackWithoutWritingBack) {
    simulated::SimulatedDesktop desktop;
    struct Row {
        Stored stored;
        std::int64_t limit;
        std::optional<std::int64_t> inactive;
    };
    const std::vector<Row> table{
        {{}, 3, std::nullopt},
        {{.windowLimit = 0}, 3, std::nullopt},
        {{.windowLimit = -2}, 3, std::nullopt},
        {{.windowLimit = 11}, 3, std::nullopt},
        {{.windowLimit = 1}, 1, std::nullopt},
        {{.windowLimit = 10}, 10, std::nullopt},
        {{.windowLimit = INT64_MIN}, 3, std::nullopt},
        {{.inactiveMinutes = 15, .enabled = false}, 3, std::nullopt},
        {{.inactiveMinutes = 15, .enabled = true}, 3, 15},
        {{.inactiveMinutes = 20, .enabled = true}, 3, std::nullopt},
        {{.inactiveMinutes = 0, .enabled = true}, 3, std::nullopt},
        {{.enabled = true}, 3, std::nullopt},
        {{.windowLimit = 7, .inactiveMinutes = 60, .enabled = true}, 7, 60},
    };
    for (std::size_t i = 0; i < table.size(); ++i) {
        auto defaults = std::make_shared<platform::InMemoryUserDefaults>();
        const Stored& stored = table[i].stored;
        if (stored.windowLimit) defaults->setInteger(*stored.windowLimit, WindowMonitor::windowLimitKey);
        if (stored.inactiveMinutes) defaults->setInteger(*stored.inactiveMinutes, WindowMonitor::inactiveMinutesKey);
        if (stored.enabled) defaults->setBool(*stored.enabled, WindowMonitor::inactiveMinimizeEnabledKey);
        const auto before = defaults->values();
        const int writes = defaults->writeCount();
        const auto monitor =
            WindowMonitor::create(std::make_shared<testing_support::ScriptedSource>(desktop), defaults);
        EXPECT_EQ(monitor->limit, table[i].limit) << "row " << i;
        EXPECT_EQ(monitor->inactiveMinutes, table[i].inactive) << "row " << i;
        EXPECT_EQ(defaults->writeCount(), writes) << "row " << i;
        EXPECT_EQ(defaults->values(), before) << "row " << i;
    }
}

TEST(MonitorSettings, CreationScansNothingAndPublishesNothing) {
    MonitorFixture f;
    EXPECT_EQ(f.source->snapshots, 0);
    EXPECT_TRUE(f.published.empty());
    EXPECT_FALSE(WindowMonitorTestAccess::timer(*f.monitor));
    EXPECT_TRUE(f.desktop.calls().empty());
}

TEST(MonitorSettings, SetLimitTakesOneToTenAndScansEvenWhenUnchanged) {
    MonitorFixture f;
    for (const std::int64_t invalid : std::initializer_list<std::int64_t>{0, 11, -1, INT64_MAX}) {
        f.monitor->setLimit(invalid);
        EXPECT_EQ(f.monitor->limit, 3);
    }
    EXPECT_EQ(f.defaults->writeCount(), 0);
    EXPECT_EQ(f.source->snapshots, 0);

    f.monitor->setLimit(10);
    EXPECT_EQ(f.monitor->limit, 10);
    EXPECT_EQ(f.defaults->integerForKey(WindowMonitor::windowLimitKey), 10);
    EXPECT_EQ(f.source->snapshots, 1);
    ASSERT_EQ(f.published.size(), 1u);
    EXPECT_EQ(f.last().limit, 10) << "the new setting is published within the call";
    f.monitor->setLimit(10);
    EXPECT_EQ(f.defaults->writeCount(), 2) << "written again";
    EXPECT_EQ(f.source->snapshots, 2);
}

TEST(MonitorSettings, SetInactiveMinutesWritesInItsOrderAndKeepsTheLastPeriod) {
    MonitorFixture f;
    for (const std::int64_t invalid : std::initializer_list<std::int64_t>{7, 0, -1, 61}) {
        f.monitor->setInactiveMinutes(invalid);
    }
    EXPECT_EQ(f.defaults->writeCount(), 0);
    EXPECT_EQ(f.source->snapshots, 0);
    EXPECT_FALSE(f.monitor->inactiveMinutes);

    f.monitor->setInactiveMinutes(30);
    EXPECT_EQ(f.monitor->inactiveMinutes, 30);
    EXPECT_TRUE(f.defaults->boolForKey(WindowMonitor::inactiveMinimizeEnabledKey));
    EXPECT_EQ(f.defaults->integerForKey(WindowMonitor::inactiveMinutesKey), 30);
    EXPECT_EQ(f.defaults->writeCount(), 2);
    EXPECT_EQ(f.source->snapshots, 1);
    EXPECT_EQ(f.last().inactiveMinutes, 30);

    f.monitor->setInactiveMinutes(std::nullopt);
    EXPECT_FALSE(f.monitor->inactiveMinutes);
    EXPECT_FALSE(f.defaults->boolForKey(WindowMonitor::inactiveMinimizeEnabledKey));
    EXPECT_EQ(f.defaults->integerForKey(WindowMonitor::inactiveMinutesKey), 30) << "the last period stays";
    EXPECT_EQ(f.defaults->writeCount(), 3);
    EXPECT_EQ(f.source->snapshots, 2);

    // A later monitor loads it as off; switching on writes the new period.
    const auto later = WindowMonitor::create(f.source, f.defaults);
    EXPECT_FALSE(later->inactiveMinutes);
    later->setInactiveMinutes(5);
    EXPECT_EQ(f.defaults->integerForKey(WindowMonitor::inactiveMinutesKey), 5);
    EXPECT_EQ(WindowMonitor::create(f.source, f.defaults)->inactiveMinutes, 5);
}

TEST(MonitorLife, StartingUntrustedPromptsOnceScansAndSchedulesTheTimer) {
    MonitorFixture f;
    f.desktop.trusted = false;
    f.monitor->start();
    EXPECT_EQ(f.desktop.counts().trustPrompt, 1);
    EXPECT_EQ(f.desktop.calls().front(), "AXIsProcessTrusted");
    EXPECT_EQ(f.desktop.calls()[1], "AXIsProcessTrustedWithOptions prompt");
    ASSERT_EQ(f.published.size(), 1u) << "the first state arrives before start returns";
    EXPECT_FALSE(f.last().isTrusted);

    const auto& timer = WindowMonitorTestAccess::timer(*f.monitor);
    ASSERT_TRUE(timer);
    EXPECT_DOUBLE_EQ(timer->timeInterval(), 0.35);
    EXPECT_EQ(f.runLoop.modesOf(timer),
              (std::set{platform::RunLoopMode::defaultMode, platform::RunLoopMode::commonModes}));

    // Trust granted later is picked up at the next tick, with no restart.
    f.open(100, "a");
    f.desktop.trusted = true;
    EXPECT_EQ(f.runLoop.advance(0.35), 1);
    EXPECT_TRUE(f.last().isTrusted);
    EXPECT_EQ(f.last().visibleWindowCount, 1);
    EXPECT_EQ(f.desktop.counts().trustPrompt, 1) << "never asked again";
}

TEST(MonitorLife, StartingTrustedDoesNotPrompt) {
    MonitorFixture f;
    f.monitor->start();
    EXPECT_EQ(f.desktop.counts().trustPrompt, 0);
    EXPECT_EQ(f.source->snapshots, 1);
}

TEST(MonitorLife, TicksScanEveryIntervalUntilStopped) {
    MonitorFixture f;
    f.monitor->start();
    EXPECT_EQ(f.runLoop.advance(0.34), 0);
    EXPECT_EQ(f.runLoop.advance(3.5 - 0.34), 10);
    EXPECT_EQ(f.source->snapshots, 11);

    f.monitor->stop();
    EXPECT_FALSE(WindowMonitorTestAccess::timer(*f.monitor));
    EXPECT_EQ(f.runLoop.advance(60), 0);
    EXPECT_EQ(f.source->snapshots, 11);
    f.monitor->setLimit(5);
    EXPECT_EQ(f.source->snapshots, 12) << "a command still scans";
    f.monitor->stop(); // twice is harmless
}

TEST(MonitorLife, TheTimerHoldsTheMonitorUntilStopped) {
    MonitorFixture f;
    f.monitor->start();
    const std::weak_ptr<WindowMonitor> held = f.monitor;
    WindowMonitor& monitor = *f.monitor;
    f.monitor.reset();
    ASSERT_FALSE(held.expired()) << "the timer keeps it";
    f.runLoop.advance(0.35);
    EXPECT_EQ(f.source->snapshots, 2);
    monitor.stop();
    EXPECT_TRUE(held.expired()) << "released with the timer";
}

} // namespace
} // namespace quellan
