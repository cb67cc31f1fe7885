// The soak in the test suite: short runs over a few seeds, the same run for
// the same seed, and faulty sources its checks must catch.
#include "soak/SoakRun.hpp"

#include <gtest/gtest.h>

namespace quellan::soak {
namespace {

using Spoil = std::function<void(WindowSnapshot&, simulated::SimulatedDesktop&)>;

/// Hands the inner snapshot on after `spoil` has had its way with it.
class SpoilingSource final : public WindowSource {
public:
    SpoilingSource(std::shared_ptr<WindowSource> inner, simulated::SimulatedDesktop& desktop, Spoil spoil)
        : inner_(std::move(inner)), desktop_(desktop), spoil_(std::move(spoil)) {}
    WindowSnapshot snapshot() override {
        WindowSnapshot snapshot = inner_->snapshot();
        spoil_(snapshot, desktop_);
        return snapshot;
    }

private:
    std::shared_ptr<WindowSource> inner_;
    simulated::SimulatedDesktop& desktop_;
    Spoil spoil_;
};

SoakResult soak(std::uint64_t seed, std::int64_t scans, Spoil spoil = {}) {
    SoakOptions options{.seed = seed, .scans = scans, .wrapSource = {}};
    if (spoil) {
        options.wrapSource = [spoil](std::shared_ptr<WindowSource> inner, simulated::SimulatedDesktop& desktop) {
            return std::make_shared<SpoilingSource>(std::move(inner), desktop, spoil);
        };
    }
    return runSoak(options);
}

class SoakRun : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(SoakRun, KeepsEveryPromiseForTenThousandScans) {
    const auto result = soak(GetParam(), 10'000);
    ASSERT_TRUE(result.passed) << result.failure;
    const auto& t = result.totals;
    // The run reaches what it is meant to: every path taken, every fault made.
    EXPECT_GT(t.untrustedScans, 400);
    EXPECT_GT(t.limitChecks, 1'500);
    EXPECT_GT(t.minimized, 900);
    EXPECT_GT(t.failedMinimizations, 300);
    EXPECT_GT(t.timerTicks, 600);
    EXPECT_GT(t.restarts, 200);
    EXPECT_GT(t.rejectedSetterCalls, 70);
    EXPECT_GT(t.midScanEvents, 150);
    for (const char* kind :
         {"focused window read", "hash collision", "minimized read", "role read", "set minimized", "settable query",
          "subrole read", "title read", "window list extras", "window list read", "window list value"}) {
        EXPECT_GT(t.faults.contains(kind) ? t.faults.at(kind) : 0, 0) << kind;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, SoakRun, ::testing::Values(1, 2, 3, 4));

TEST(Soak, ASeedReplaysTheSameRun) {
    const auto first = soak(77, 500);
    const auto second = soak(77, 500);
    ASSERT_TRUE(first.passed) << first.failure;
    EXPECT_EQ(first.totals.steps, second.totals.steps);
    EXPECT_EQ(first.totals.records, second.totals.records);
    EXPECT_EQ(first.totals.minimized, second.totals.minimized);
    EXPECT_EQ(first.totals.faults, second.totals.faults);
    EXPECT_NE(soak(78, 500).totals.records, first.totals.records) << "another seed, another run";
}

void expectCaught(const SoakResult& result, const std::string& expected) {
    ASSERT_FALSE(result.passed);
    EXPECT_NE(result.failure.find(expected), std::string::npos) << result.failure;
    EXPECT_NE(result.failure.find("replay: quellan_soak --seed 9 --scans"), std::string::npos) << result.failure;
    EXPECT_NE(result.failure.find("the last churn:"), std::string::npos) << result.failure;
}

TEST(Soak, CatchesASourceThatHoldsElementsPastTheScan) {
    // Each copy of the spoiler keeps its own: the one inside the source
    // goes with the monitor, before the desktop does.
    expectCaught(soak(9, 3'000,
                      [kept = WindowSnapshot{}](WindowSnapshot& snapshot, simulated::SimulatedDesktop&) mutable {
                          if (!snapshot.windows.empty()) kept = snapshot;
                      }),
                 "still alive after the step");
}

TEST(Soak, CatchesASourceThatListsADialog) {
    expectCaught(
        soak(9, 3'000,
             [](WindowSnapshot& snapshot, simulated::SimulatedDesktop& desktop) {
                 for (const auto& app : desktop.applications()) {
                     for (const auto id : app.windows) {
                         const auto& subrole = desktop.window(id).subrole.value;
                         if (std::get_if<std::string>(&subrole) && std::get<std::string>(subrole) == "AXDialog") {
                             snapshot.windows.push_back(ManagedWindow{"dialog:" + std::to_string(id),
                                                                      desktop.makeWindowElement(id), "App", "Dialog"});
                         }
                     }
                 }
             }),
        "was not a candidate");
}

TEST(Soak, CatchesASourceThatLosesTheFocusedWindow) {
    expectCaught(soak(9, 3'000,
                      [](WindowSnapshot& snapshot, simulated::SimulatedDesktop&) { snapshot.currentWindowID.reset(); }),
                 "the focused window");
}

} // namespace
} // namespace quellan::soak
