// The desktop model every event-fed backend feeds, with its parts: the
// minimize requests and what their answers teach, and the focus log. A
// scripted feed stands in for the desktop; time is the test's own.
#include "Platform/model/DesktopModel.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

namespace quellan {
namespace {

using namespace std::chrono_literals;
using Model = platform::DesktopModel;

/// A desktop that sends nothing anywhere: it records what the model asks.
struct ScriptedFeed final : Model::Feed {
    std::vector<Model::Window> windows;
    std::vector<Model::Key> sent;
    int pings = 0;
    int refreshes = 0;
    bool quiet = true;
    bool trusted() override { return true; }
    void readArrived() override {}
    void refresh() override { ++refreshes; }
    bool mayMinimize(Model::Key) override { return true; }
    bool sendMinimize(Model::Key window) override { return sent.push_back(window), true; }
    void sendPing() override { ++pings; }
    bool settled() override { return quiet; }
    bool lost() const override { return false; }
};

struct DesktopModelTest : testing::Test {
    ScriptedFeed feed;
    Model::SteadyClock::time_point now = Model::SteadyClock::time_point{} + 1h;
    Model model{feed, "refuses", [this] { return now; }};
    std::vector<std::string> notices;

    void SetUp() override {
        model.setNoticeHandler([this](const std::string& text) { notices.push_back(text); });
        model.requests().setPingable(true);
        // Application 7's windows, front to back: 1 has the focus.
        for (const Model::Key key : {1, 2, 3, 4}) {
            Model::Window& window = feed.windows.emplace_back();
            window.key = key;
            window.application = 7;
            window.minimizable = true;
        }
        model.show(feed.windows);
        model.setFocused(1);
    }
    ax::Element window(Model::Key key) {
        ax::Value windows;
        model.copyAttributeValue(model.createApplication(7), ax::kWindowsAttribute, windows);
        for (const ax::Value& entry : *windows.asList())
            if (model.hash(*entry.asElement()) == key) return *entry.asElement();
        return {};
    }
    ax::Error minimize(Model::Key key) {
        return model.setAttributeValue(window(key), ax::kMinimizedAttribute, ax::Value::boolean(true));
    }
    bool minimized(Model::Key key) {
        ax::Value value;
        model.copyAttributeValue(window(key), ax::kMinimizedAttribute, value);
        return *value.asBoolean();
    }
    /// The desktop shows what it did: `minimizedNow` are minimized.
    void answer(const std::vector<Model::Key>& minimizedNow) {
        for (Model::Window& shown : feed.windows)
            shown.minimized = std::count(minimizedNow.begin(), minimizedNow.end(), shown.key) != 0;
        model.show(feed.windows);
        model.settleRequests();
    }
};

TEST_F(DesktopModelTest, ARequestIsSentOnceNeverForTheFocusedWindowAndNothingMoreWhileTheDesktopIsBehind) {
    EXPECT_EQ(minimize(1), ax::kCannotComplete) << "the focused window";
    model.beginLook();
    EXPECT_EQ(minimize(2), ax::kSuccess);
    EXPECT_TRUE(minimized(2)) << "on its way, so not counted";
    EXPECT_EQ(minimize(2), ax::kSuccess);
    EXPECT_EQ(feed.sent, std::vector<Model::Key>{2}) << "sent once";
    EXPECT_EQ(feed.pings, 1);
    model.requestsRead();
    EXPECT_FALSE(model.desktopSettled()) << "read, not yet answered";
    EXPECT_EQ(minimize(3), ax::kSuccess);
    model.beginLook();
    EXPECT_EQ(minimize(4), ax::kCannotComplete) << "what an earlier look asked is unread";
    model.requestsRead();
    EXPECT_EQ(minimize(4), ax::kSuccess);
    EXPECT_EQ(feed.pings, 3);
    answer({2, 3, 4});
    EXPECT_TRUE(model.desktopSettled());
    EXPECT_EQ(feed.refreshes, 2) << "once a look";
}

TEST_F(DesktopModelTest, ARequestReadAndLeftUndoneCountsAgainAndARefusingDesktopIsSaidOnce) {
    const auto ignore = [&](const std::vector<Model::Key>& windows) {
        for (const Model::Key key : windows)
            EXPECT_EQ(minimize(key), ax::kSuccess) << key;
        model.requestsRead();
        model.requestsRead();
        now += platform::MinimizeRequests::kGrace - 1ms;
        answer({});
        EXPECT_TRUE(minimized(windows[0])) << "a moment to animate";
        now += 1ms;
        answer({});
        EXPECT_FALSE(minimized(windows[0])) << "left undone: it counts again";
    };
    model.beginLook();
    ignore({2, 3});
    EXPECT_EQ(notices, std::vector<std::string>{"refuses"});
    bool settable = true;
    EXPECT_EQ(model.isAttributeSettable(window(4), ax::kMinimizedAttribute, settable), ax::kSuccess);
    EXPECT_FALSE(settable) << "so no window counts";
    EXPECT_EQ(minimize(4), ax::kCannotComplete);
    now += platform::MinimizeRequests::kFirstRetry;
    ignore({2, 4}); // asked again after the back-off, and refused again
    EXPECT_EQ(minimize(3), ax::kCannotComplete);
    EXPECT_EQ(notices.size(), 1u) << "said once";
}

TEST_F(DesktopModelTest, FocusChangesOfShownWindowsComeInTheOrderTheyHappened) {
    model.focusLog().gained(2, 10);
    model.focusLog().gained(9, 11); // not shown: a tool window, say
    model.focusLog().gained(3, 12);
    EXPECT_FALSE(model.desktopSettled()) << "changes to take";
    std::vector<std::pair<std::uint64_t, double>> seen;
    for (const ax::FocusChange& change : model.takeFocusChanges())
        seen.emplace_back(model.hash(change.window), change.instant);
    EXPECT_EQ(seen, (std::vector<std::pair<std::uint64_t, double>>{{2, 10}, {2, 11}, {3, 12}}));
    EXPECT_TRUE(model.desktopSettled());
    feed.quiet = false;
    EXPECT_FALSE(model.desktopSettled()) << "the desktop has more to read";
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

} // namespace
} // namespace quellan
