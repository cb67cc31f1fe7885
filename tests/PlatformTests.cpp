#include "Platform/AppKit.hpp"
#include "Platform/SignalPipe.hpp"
#include "Platform/model/FocusLog.hpp"
#include "Platform/model/MinimizeRequests.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <map>

namespace quellan {
namespace {

TEST(CompareMenus, OnlyChangedLabelTitlesCanBeAppliedInPlace) {
    using Change = std::function<void(appkit::MenuItem & row, appkit::MenuItem & label)>;
    const auto make = [](const Change& change) {
        appkit::MenuItem row("3", "setLimit:", ""), label("5s", {}, "");
        row.representedObject = std::int64_t{3};
        change(row, label);
        auto submenu = std::make_shared<appkit::Menu>();
        submenu->addItem(label);
        appkit::MenuItem parent("Active", std::nullopt, "");
        parent.submenu = submenu;
        appkit::Menu menu;
        menu.addItem(row);
        menu.addItem(parent);
        return menu;
    };
    const appkit::Menu base = make([](auto&, auto&) {});
    using appkit::MenuDifference;
    EXPECT_EQ(appkit::compareMenus(base, make([](auto&, auto&) {})), MenuDifference::none);
    EXPECT_EQ(appkit::compareMenus(base, make([](auto&, auto& label) { label.title = "6s"; })),
              MenuDifference::labelTitles);
    const std::vector<Change> changes{
        [](auto& row, auto&) { row.title = "4"; },
        [](auto& row, auto&) { row.representedObject = std::string("3"); },
        [](auto& row, auto&) { row.state = appkit::ControlState::on; },
        [](auto& row, auto&) { row.enabled = false; },
        [](auto&, auto& label) { label.enabled = false; },
    };
    for (std::size_t i = 0; i < changes.size(); ++i)
        EXPECT_EQ(appkit::compareMenus(base, make(changes[i])), MenuDifference::other) << "change " << i;
}

/// A desktop's windows as the requests see them: none when gone.
struct Windows {
    std::map<platform::MinimizeRequests::WindowKey, bool> minimized;
    std::function<std::optional<bool>(platform::MinimizeRequests::WindowKey)> view() {
        return [this](auto window) {
            const auto found = minimized.find(window);
            return found == minimized.end() ? std::nullopt : std::optional(found->second);
        };
    }
};

TEST(MinimizeRequests, OnlyARequestTheDesktopHasReadAndLeftUndoneCountsAsIgnored) {
    using namespace std::chrono_literals;
    platform::MinimizeRequests requests;
    requests.setPingable(true);
    Windows desktop{{{1, false}, {2, false}, {3, false}}};
    auto now = platform::MinimizeRequests::Clock::time_point{} + 1h;
    // Sent, then a ping; the desktop is stopped for a minute: nothing is
    // settled, nothing sent twice, and it is never taken to refuse.
    requests.sent(1, now);
    requests.sent(2, now);
    ASSERT_TRUE(requests.wantsPing());
    requests.pinged(now);
    EXPECT_FALSE(requests.wantsPing()) << "one ping in flight";
    requests.sent(3, now);
    now += 29s;
    EXPECT_FALSE(requests.settle(desktop.view(), now));
    EXPECT_TRUE(requests.isPending(1) && requests.isPending(2) && requests.isPending(3));
    // The ping comes back: 1 and 2 were read. 1 is honoured, 2 left undone,
    // which counts only after the grace; 3 is not yet covered.
    requests.ponged(now);
    EXPECT_TRUE(requests.wantsPing());
    desktop.minimized[1] = true;
    EXPECT_FALSE(requests.settle(desktop.view(), now + 500ms));
    EXPECT_FALSE(requests.isPending(1));
    EXPECT_TRUE(requests.isPending(2));
    EXPECT_FALSE(requests.settle(desktop.view(), now + 1s));
    EXPECT_FALSE(requests.isPending(2));
    EXPECT_FALSE(requests.mayAsk(2, now + 1s)) << "paused after it was ignored";
    EXPECT_TRUE(requests.isPending(3));
    EXPECT_FALSE(requests.refuses(now + 1s)) << "it honoured one";
}

TEST(MinimizeRequests, ADesktopThatNeverAnswersItsPingsIsReadByWhatItHonours) {
    using namespace std::chrono_literals;
    platform::MinimizeRequests requests;
    requests.setPingable(true);
    Windows desktop{{{1, false}, {2, false}}};
    const auto now = platform::MinimizeRequests::Clock::time_point{} + 1h;
    requests.sent(1, now);
    requests.pinged(now);
    requests.sent(2, now);
    desktop.minimized[2] = true; // read after the ping, which stays unanswered
    EXPECT_FALSE(requests.settle(desktop.view(), now));
    EXPECT_FALSE(requests.pingable());
    EXPECT_TRUE(requests.isPending(1)) << "read before 2, but given its moment";
    EXPECT_FALSE(requests.settle(desktop.view(), now + 1s));
    EXPECT_FALSE(requests.isPending(1));
    EXPECT_FALSE(requests.mayAsk(1, now + 1s));
}

TEST(MinimizeRequests, ADesktopThatNeverHonoursIsSaidOnceAndAskedAgainAfterABackOff) {
    using namespace std::chrono_literals;
    platform::MinimizeRequests requests;
    Windows desktop{{{1, false}, {2, false}}};
    auto now = platform::MinimizeRequests::Clock::time_point{} + 1h;
    const auto ignoreBoth = [&] {
        requests.sent(1, now);
        requests.sent(2, now);
        EXPECT_FALSE(requests.settle(desktop.view(), now + 1999ms)) << "no ping: the timeout decides";
        now += 2s;
        return requests.settle(desktop.view(), now);
    };
    EXPECT_TRUE(ignoreBoth()) << "learned, and said";
    EXPECT_TRUE(requests.refuses(now));
    EXPECT_FALSE(requests.mayAsk(1, now + 59s));
    now += 60s;
    EXPECT_FALSE(requests.refuses(now)) << "back-off over";
    EXPECT_TRUE(requests.mayAsk(1, now));
    EXPECT_FALSE(ignoreBoth()) << "learned again, not said again";
    EXPECT_TRUE(requests.refuses(now + 119s)) << "a longer back-off";
    // Honoured at the next trial: it minimizes after all.
    now += 120s;
    ASSERT_TRUE(requests.mayAsk(1, now));
    requests.sent(1, now);
    desktop.minimized[1] = true;
    EXPECT_FALSE(requests.settle(desktop.view(), now));
    EXPECT_FALSE(requests.refuses(now + 1h));
}

TEST(FocusLog, AWindowIsUsedFromWhenItTakesTheFocusUntilItLosesIt) {
    platform::FocusLog log;
    log.gained(1, 10);
    log.gained(1, 11);
    log.gained(2, 20);
    log.lost(30);
    log.gained(3, 25); // read late: kept in order
    std::vector<std::pair<std::uint64_t, double>> seen;
    for (const auto& entry : log.take())
        seen.emplace_back(entry.window, entry.instant);
    EXPECT_EQ(seen, (std::vector<std::pair<std::uint64_t, double>>{{1, 10}, {1, 20}, {2, 20}, {2, 30}, {3, 30}}));
    EXPECT_TRUE(log.empty());
}

TEST(SignalPipe, HearsItsSignalsOnlyWhileItLives) {
    const int handled[] = {SIGUSR2, SIGWINCH};
    struct sigaction before {};
    sigaction(SIGUSR2, nullptr, &before);
    {
        const auto pipe = platform::SignalPipe::install(handled);
        ASSERT_NE(pipe, nullptr);
        // Not heard, SIGUSR2 would end the test.
        std::raise(SIGUSR2);
        std::raise(SIGWINCH);
        std::raise(SIGUSR2);
        EXPECT_EQ(pipe->drain(), (std::vector<int>{SIGUSR2, SIGWINCH}));
        EXPECT_TRUE(pipe->drain().empty());
    }
    struct sigaction after {};
    sigaction(SIGUSR2, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

} // namespace
} // namespace quellan
