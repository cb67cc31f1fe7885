// What the Shell extension's numbered messages mean to the desktop model:
// order kept or everything read again, the focus in the order it moved,
// and when each window came into sight. Time is the test's own.
#include "Platform/gnome/ShellWindows.hpp"

#include <gtest/gtest.h>

namespace quellan {
namespace {

using Model = platform::DesktopModel;
using gnome::ShellWindows;

struct FixedClock final : clock::ClockBackend {
    double instant = 1000;
    double now() override { return instant; }
};

struct QuietFeed final : Model::Feed {
    bool trusted() override { return true; }
    void readArrived() override {}
    void refresh() override {}
    bool mayMinimize(Model::Key) override { return true; }
    bool sendMinimize(Model::Key) override { return true; }
    void sendPing() override {}
    bool settled() override { return true; }
    bool lost() const override { return false; }
};

ShellWindows::Window window(std::uint64_t id, std::int32_t pid = 40, std::uint32_t kind = 0) {
    return {.id = id,
            .pid = pid,
            .windowClass = "app",
            .title = "w" + std::to_string(id),
            .kind = kind,
            .minimizable = true,
            .shown = true};
}

struct ShellWindowsTest : testing::Test {
    FixedClock clock;
    platform::ScopedBackends installed{platform::Backends{.clock = &clock}};
    QuietFeed feed;
    Model model{feed, "refuses"};
    ShellWindows windows{model};

    /// The ids of `pid`'s windows the model lists, front to back.
    std::vector<std::uint64_t> listed(std::int32_t pid = 40) {
        model.beginLook();
        ax::Value value;
        std::vector<std::uint64_t> ids;
        if (model.copyAttributeValue(model.createApplication(pid), ax::kWindowsAttribute, value) != ax::kSuccess)
            return ids;
        for (const ax::Value& entry : *value.asList())
            ids.push_back(model.hash(*entry.asElement()));
        return ids;
    }
    std::vector<std::pair<std::uint64_t, double>> focusMoves() {
        std::vector<std::pair<std::uint64_t, double>> moves;
        for (const ax::FocusChange& change : model.takeFocusChanges())
            moves.emplace_back(model.hash(change.window), change.instant);
        return moves;
    }
};

TEST_F(ShellWindowsTest, ChangesApplyInOrderAndAGapAsksForEverythingAgain) {
    windows.replace(7, {window(1), window(2), window(3, 40, 1), window(4, 40, 99)}, {1, 2, 3, 4}, 2);
    EXPECT_EQ(listed(), (std::vector<std::uint64_t>{3, 2, 1})) << "front to back; an unknown kind is never listed";

    EXPECT_TRUE(windows.apply({.serial = 7, .closed = {1}})) << "contained in the answer already";
    EXPECT_TRUE(windows.has(1));
    EXPECT_FALSE(windows.apply({.serial = 9, .closed = {1}, .stacking = {2}})) << "8 went missing";
    EXPECT_TRUE(windows.has(1)) << "nothing of a change out of order is applied";

    auto moved = window(5, 0);
    moved.windowClass = "tool";
    EXPECT_TRUE(windows.apply({.serial = 8, .windows = {moved}, .closed = {1}, .stacking = {5, 2, 3, 4}}));
    EXPECT_FALSE(windows.has(1));
    EXPECT_EQ(listed(), (std::vector<std::uint64_t>{3, 2}));
    EXPECT_EQ(model.window(5)->application, model.applicationFor(std::nullopt, "tool"))
        << "a window of no known process belongs to its class";
    EXPECT_EQ(model.window(5)->stackingPosition, 0u);

    windows.forget();
    EXPECT_TRUE(listed().empty());
    EXPECT_TRUE(windows.apply({.serial = 1, .windows = {window(6)}})) << "nothing is known until the next answer";
    EXPECT_FALSE(windows.has(6));
}

TEST_F(ShellWindowsTest, FocusMovesAreLoggedInOrderAndAClosedFocusedWindowLosesIt) {
    windows.replace(1, {window(1), window(2), window(3)}, {1, 2, 3}, 3);
    focusMoves();
    clock.instant = 1010;
    ASSERT_TRUE(windows.apply({.serial = 2, .stacking = {1, 2, 3}, .focus = {1, 2, 0, 99, 1}}));
    // Each turn ends as the next begins; 0 and a window never sent both mean no window counted has it.
    EXPECT_EQ(focusMoves(), (std::vector<std::pair<std::uint64_t, double>>{
                                {3, 1010}, {1, 1010}, {1, 1010}, {2, 1010}, {2, 1010}, {1, 1010}}));
    clock.instant = 1020;
    ASSERT_TRUE(windows.apply({.serial = 3, .closed = {1}, .stacking = {2, 3}}));
    EXPECT_EQ(model.focused(), std::nullopt);
    EXPECT_TRUE(focusMoves().empty()) << "the closed window is gone from what is asked";
}

TEST_F(ShellWindowsTest, AWindowRanksFromWhenItCameIntoSight) {
    auto away = window(2);
    away.shown = false;
    windows.replace(1, {window(1), away}, {1, 2}, 1);
    EXPECT_EQ(model.window(1)->appearedAt, std::nullopt) << "there before Quellan looked";

    clock.instant = 1005;
    auto back = away;
    back.shown = true;
    ASSERT_TRUE(windows.apply({.serial = 2, .windows = {back, window(3)}, .stacking = {1, 2, 3}}));
    EXPECT_EQ(model.window(2)->appearedAt, 1005) << "brought onto the workspace shown";
    EXPECT_EQ(model.window(3)->appearedAt, 1005) << "opened";

    clock.instant = 1010;
    auto title = window(3);
    title.title = "renamed";
    auto minimized = window(1);
    minimized.minimized = true;
    ASSERT_TRUE(windows.apply({.serial = 3, .windows = {title, minimized}, .stacking = {1, 2, 3}}));
    EXPECT_EQ(model.window(3)->appearedAt, 1005) << "a change in sight is no new appearance";
    clock.instant = 1015;
    minimized.minimized = false;
    windows.replace(9, {minimized, back, title, window(4)}, {1, 2, 3, 4}, 1);
    EXPECT_EQ(model.window(1)->appearedAt, 1015) << "restored while a change went missing";
    EXPECT_EQ(model.window(4)->appearedAt, 1015) << "opened while a change went missing";
    EXPECT_EQ(model.window(3)->appearedAt, 1005);
}

} // namespace
} // namespace quellan
