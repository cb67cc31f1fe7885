// The soak in the test suite: short runs over a few seeds, the same run for
// the same seed, and faulty sources it must catch.
#include "soak/SoakRun.hpp"

#include "Platform/Workspace.hpp"

#include <gtest/gtest.h>

namespace quellan::soak {
namespace {

SoakResult soak(std::uint64_t seed, std::int64_t scans,
                std::function<std::shared_ptr<WindowSource>(std::shared_ptr<WindowSource>)> wrap = {}) {
    return runSoak(SoakOptions{.seed = seed, .scans = scans, .wrapSource = std::move(wrap)});
}

class SoakRun : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(SoakRun, KeepsEveryPromiseForTwoThousandScans) {
    const auto result = soak(GetParam(), 2'000);
    ASSERT_TRUE(result.passed) << result.failure;
    const auto& t = result.totals;
    EXPECT_EQ(t.scans, 2'000);
    // The run reaches what it is meant to: every path taken, every fault made.
    EXPECT_GT(t.trustedScans, 1'600);
    EXPECT_GT(t.untrustedScans, 20);
    EXPECT_GT(t.exactSnapshots, 1'600);
    EXPECT_GT(t.disturbedSnapshots, 10);
    EXPECT_GT(t.minimized, 400);
    EXPECT_GT(t.failedMinimizations, 20);
    EXPECT_GT(t.timerTicks, 20);
    EXPECT_GT(t.restarts, 2);
    EXPECT_GT(t.setterScans, 50);
    EXPECT_GT(t.rejectedSetterCalls, 2);
    EXPECT_GT(t.midScanEvents, 20);
    for (const char* kind :
         {"focused window read", "hash collision", "minimized read", "role read", "set minimized", "settable query",
          "subrole read", "title read", "window list extras", "window list read", "window list value"}) {
        EXPECT_GT(t.faults.contains(kind) ? t.faults.at(kind) : 0, 0) << kind;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, SoakRun, ::testing::Values(1, 2, 3, 4, 5));

TEST(Soak, ASeedReplaysTheSameRun) {
    const auto first = soak(77, 300);
    const auto second = soak(77, 300);
    ASSERT_TRUE(first.passed) << first.failure;
    EXPECT_EQ(first.totals.steps, second.totals.steps);
    EXPECT_EQ(first.totals.records, second.totals.records);
    EXPECT_EQ(first.totals.minimized, second.totals.minimized);
    EXPECT_EQ(first.totals.publications, second.totals.publications);
    EXPECT_EQ(first.totals.platformCalls, second.totals.platformCalls);
    EXPECT_EQ(first.totals.faults, second.totals.faults);
    EXPECT_NE(soak(78, 300).totals.platformCalls, first.totals.platformCalls) << "another seed, another run";
}

/// Hands the inner snapshot on after `spoil` has had its way with it.
class SpoilingSource final : public WindowSource {
public:
    SpoilingSource(std::shared_ptr<WindowSource> inner, std::function<void(WindowSnapshot&)> spoil)
        : inner_(std::move(inner)), spoil_(std::move(spoil)) {}
    WindowSnapshot snapshot() override {
        WindowSnapshot snapshot = inner_->snapshot();
        spoil_(snapshot);
        return snapshot;
    }

private:
    std::shared_ptr<WindowSource> inner_;
    std::function<void(WindowSnapshot&)> spoil_;
};

auto spoiling(std::function<void(WindowSnapshot&)> spoil) {
    return [spoil](std::shared_ptr<WindowSource> inner) -> std::shared_ptr<WindowSource> {
        return std::make_shared<SpoilingSource>(std::move(inner), spoil);
    };
}

void expectCaught(const SoakResult& result, const std::string& expected) {
    ASSERT_FALSE(result.passed);
    EXPECT_NE(result.failure.find(expected), std::string::npos) << result.failure;
    EXPECT_NE(result.failure.find("replay: quellan_soak --seed 9 --scans"), std::string::npos) << result.failure;
    EXPECT_NE(result.failure.find("the last churn:"), std::string::npos) << result.failure;
}

TEST(Soak, CatchesASourceThatHoldsElementsPastTheScan) {
    // The copy is owned by the source alone, so it goes before the desktop does.
    expectCaught(soak(9, 3'000,
                      [](std::shared_ptr<WindowSource> inner) -> std::shared_ptr<WindowSource> {
                          auto kept = std::make_shared<WindowSnapshot>();
                          return std::make_shared<SpoilingSource>(std::move(inner), [kept](WindowSnapshot& snapshot) {
                              if (!snapshot.windows.empty()) *kept = snapshot;
                          });
                      }),
                 "still alive after the step");
}

TEST(Soak, CatchesASourceThatListsAMinimizedWindow) {
    // As a source that skipped the minimized test would: the first minimized
    // window of any application is listed too.
    expectCaught(
        soak(9, 3'000, spoiling([](WindowSnapshot& snapshot) {
                 for (const auto& app : workspace::runningApplications()) {
                     const ax::Element element = ax::createApplication(app.processIdentifier);
                     ax::Value windows;
                     if (ax::copyAttributeValue(element, ax::kWindowsAttribute, windows) != ax::kSuccess) continue;
                     const ax::Value::List* list = windows.asList();
                     for (const auto& entry : list ? *list : ax::Value::List{}) {
                         const ax::Element* window = entry.asElement();
                         ax::Value minimized;
                         if (!window ||
                             ax::copyAttributeValue(*window, ax::kMinimizedAttribute, minimized) != ax::kSuccess ||
                             !minimized.asBoolean() || !*minimized.asBoolean()) {
                             continue;
                         }
                         snapshot.windows.push_back(ManagedWindow{
                             windowIdentifier(app.processIdentifier, ax::hash(*window)), *window, "App", "Title"});
                         return;
                     }
                 }
             })),
        "not a candidate");
}

TEST(Soak, CatchesASourceThatLosesTheFocusedWindow) {
    expectCaught(soak(9, 3'000, spoiling([](WindowSnapshot& snapshot) { snapshot.currentWindowID.reset(); })),
                 "focused, the desktop says");
}

TEST(Soak, CatchesASourceThatListsWindowsOutOfOrder) {
    expectCaught(soak(9, 3'000, spoiling([](WindowSnapshot& snapshot) {
                          std::reverse(snapshot.windows.begin(), snapshot.windows.end());
                      })),
                 "snapshot record");
}

} // namespace
} // namespace quellan::soak
