#include "QtTestSupport.hpp"

#include <QEventLoop>
#include <QTimer>
#include <cmath>

namespace quellan::qt {
namespace {

using testing::FrameworkTest;
using testing::spinUntil;

class RunLoopTest : public FrameworkTest {
protected:
    void SetUp() override {
        FrameworkTest::SetUp();
        runLoop_ = makeRunLoop();
    }
    // Lets a fresh timer tick a few times: proof that the loop has turned
    // often enough for a stopped timer to have ticked, had it not stopped.
    void turnTheLoop() {
        int ticks = 0;
        const auto witness = runLoop_->scheduledTimer(0.001, true, [&] { ++ticks; });
        ASSERT_TRUE(spinUntil([&] { return ticks >= 5; }));
    }
    std::unique_ptr<platform::RunLoop> runLoop_;
};

// Kept alive by a callback's captures; tells when they are released.
struct Capture {
    explicit Capture(bool& released) : released(released) {}
    ~Capture() { released = true; }
    bool& released;
};

TEST_F(RunLoopTest, RepeatingTimerTicksUntilInvalidatedWhichReleasesTheCallbackAtOnce) {
    int ticks = 0;
    bool released = false;
    const auto timer =
        runLoop_->scheduledTimer(0.001, true, [&, capture = std::make_shared<Capture>(released)] { ++ticks; });
    runLoop_->addTimer(timer, platform::RunLoopMode::commonModes);
    EXPECT_TRUE(timer->isValid());
    EXPECT_DOUBLE_EQ(timer->timeInterval(), 0.001);
    ASSERT_TRUE(spinUntil([&] { return ticks >= 3; }));
    EXPECT_FALSE(released);
    timer->invalidate();
    EXPECT_TRUE(released) << "the captures must go with invalidate, not with the timer object";
    timer->invalidate();
    EXPECT_FALSE(timer->isValid());
    const int stopped = ticks;
    turnTheLoop();
    EXPECT_EQ(ticks, stopped);
}

TEST_F(RunLoopTest, IntervalIsWholeMillisecondsOfAtLeastOne) {
    const auto noop = [] {};
    EXPECT_DOUBLE_EQ(runLoop_->scheduledTimer(0.35, true, noop)->timeInterval(), 0.35);
    EXPECT_DOUBLE_EQ(runLoop_->scheduledTimer(0.0124, true, noop)->timeInterval(), 0.012);
    EXPECT_DOUBLE_EQ(runLoop_->scheduledTimer(0.0126, true, noop)->timeInterval(), 0.013);
    EXPECT_DOUBLE_EQ(runLoop_->scheduledTimer(0, true, noop)->timeInterval(), 0.001);
    EXPECT_DOUBLE_EQ(runLoop_->scheduledTimer(-5, true, noop)->timeInterval(), 0.001);
    EXPECT_DOUBLE_EQ(runLoop_->scheduledTimer(std::nan(""), true, noop)->timeInterval(), 0.001);
}

TEST_F(RunLoopTest, OneShotTimerTicksOnceAndReleasesItsCallback) {
    int ticks = 0;
    bool released = false;
    const auto timer =
        runLoop_->scheduledTimer(0.001, false, [&, capture = std::make_shared<Capture>(released)] { ++ticks; });
    ASSERT_TRUE(spinUntil([&] { return ticks == 1; }));
    EXPECT_FALSE(timer->isValid());
    EXPECT_TRUE(released);
    turnTheLoop();
    EXPECT_EQ(ticks, 1);
}

TEST_F(RunLoopTest, InvalidateFromInsideTheCallback) {
    int ticks = 0;
    bool released = false;
    bool releasedDuringTick = true;
    std::shared_ptr<platform::Timer> timer;
    timer = runLoop_->scheduledTimer(0.001, true, [&, capture = std::make_shared<Capture>(released)] {
        ++ticks;
        timer->invalidate();
        // The callback is still running: its captures must still be there.
        releasedDuringTick = released;
        EXPECT_EQ(capture->released, false);
    });
    ASSERT_TRUE(spinUntil([&] { return ticks == 1 && released; }));
    EXPECT_FALSE(releasedDuringTick);
    EXPECT_FALSE(timer->isValid());
    turnTheLoop();
    EXPECT_EQ(ticks, 1);
}

TEST_F(RunLoopTest, CallbackMayDropTheLastReferenceToItsTimer) {
    int ticks = 0;
    bool released = false;
    std::shared_ptr<platform::Timer> timer;
    timer = runLoop_->scheduledTimer(0.001, true, [&, capture = std::make_shared<Capture>(released)] {
        ++ticks;
        timer.reset();
    });
    ASSERT_TRUE(spinUntil([&] { return released; }));
    testing::drainEvents();
    EXPECT_EQ(ticks, 1);
}

TEST_F(RunLoopTest, TickThatRunsLongIsNotReentered) {
    int depth = 0, deepest = 0, ticks = 0;
    const auto timer = runLoop_->scheduledTimer(0.001, true, [&] {
        ++ticks;
        ++depth;
        deepest = std::max(deepest, depth);
        if (ticks == 1) {
            // A nested loop, as a modal dialog would run, turned long
            // enough for the timer to come due many times over.
            int nestedTurns = 0;
            const auto counter = runLoop_->scheduledTimer(0.001, true, [&] { ++nestedTurns; });
            spinUntil([&] { return nestedTurns >= 20; });
        }
        --depth;
    });
    ASSERT_TRUE(spinUntil([&] { return ticks >= 3; }));
    EXPECT_EQ(deepest, 1);
}

TEST_F(RunLoopTest, TimerOutlivingTheFrameworkGoesQuiet) {
    bool released = false;
    const auto timer = runLoop_->scheduledTimer(0.001, true, [capture = std::make_shared<Capture>(released)] {});
    framework_.reset();
    EXPECT_TRUE(timer->isValid());
    timer->invalidate();
    EXPECT_TRUE(released);
}

} // namespace
} // namespace quellan::qt
