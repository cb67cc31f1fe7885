// Many random desktops, each scanned many times while it changes and its
// calls fail at random; after every scan the monitor's promises must hold.
#include "Support.hpp"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace quellan {
namespace {

using Access = WindowMonitorTestAccess;
using simulated::WindowID;

/// Remembers what the last snapshot listed.
class RecordingSource final : public WindowSource {
public:
    explicit RecordingSource(std::shared_ptr<WindowSource> inner) : inner_(std::move(inner)) {}
    WindowSnapshot snapshot() override {
        WindowSnapshot snapshot = inner_->snapshot();
        ids.clear();
        for (const auto& window : snapshot.windows)
            ids.push_back(window.id);
        currentWindowID = snapshot.currentWindowID;
        ++count;
        return snapshot;
    }
    std::vector<std::string> ids;
    std::optional<std::string> currentWindowID;
    int count = 0;

private:
    std::shared_ptr<WindowSource> inner_;
};

struct RandomDesktop {
    explicit RandomDesktop(std::uint32_t seed) : random(seed) {}

    std::mt19937 random;
    simulated::SimulatedDesktop desktop;
    std::vector<WindowID> windows;

    bool chance(int percent) { return static_cast<int>(random() % 100) < percent; }
    template <typename T> const T& pick(const std::vector<T>& from) { return from[random() % from.size()]; }

    void churn(testing_support::ScriptedSource& source) {
        const int steps = static_cast<int>(random() % 4);
        for (int step = 0; step < steps; ++step) {
            const auto& apps = desktop.applications();
            if (apps.empty() || chance(10)) {
                desktop.addApplication(static_cast<std::int32_t>(100 + random() % 40), "App");
                continue;
            }
            const std::int32_t pid = pick(apps).info.processIdentifier;
            if (chance(50) || windows.empty()) {
                const WindowID id = desktop.addWindow(pid, "w").id;
                windows.push_back(id);
                // Usually appended, sometimes placed anywhere in the list.
                auto& listed = source.windows;
                listed.insert(listed.begin() + static_cast<std::ptrdiff_t>(random() % (listed.size() + 1)), id);
                continue;
            }
            const WindowID id = pick(windows);
            if (!desktop.hasWindow(id)) continue;
            auto& window = desktop.window(id);
            switch (random() % 6) {
            case 0:
                desktop.removeWindow(id);
                break;
            case 1:
                window.minimized.value = chance(50);
                break; // minimized or restored by the user
            case 2:
                window.minimizeResult = chance(50) ? ax::kCannotComplete : ax::kSuccess;
                break;
            case 3: { // a collision, maybe with itself
                const WindowID other = pick(windows);
                if (desktop.hasWindow(other)) window.hash = desktop.window(other).hash;
                break;
            }
            case 4:
                source.current = id;
                break;
            default:
                desktop.removeApplication(pid);
                break;
            }
        }
        if (chance(10)) source.current.reset();
        if (source.current && !desktop.hasWindow(*source.current)) source.current.reset();
    }
};

TEST(ScanInvariants, HoldAfterEveryScanOfThousandsOfRandomDesktops) {
    constexpr int kDesktops = 2000;
    constexpr int kScans = 25;
    std::mt19937 seeds(20261206);
    int trustedScans = 0;

    for (int d = 0; d < kDesktops; ++d) {
        RandomDesktop world(seeds());
        auto& desktop = world.desktop;
        desktop.logCalls = false;
        platform::ScopedBackends installed(desktop.backends());
        auto scripted = std::make_shared<testing_support::ScriptedSource>(desktop);
        auto source = std::make_shared<RecordingSource>(scripted);
        auto monitor = WindowMonitor::create(source, std::make_shared<platform::InMemoryUserDefaults>());
        int observed = 0;
        monitor->onStateChange = [&](const MonitorState&) { ++observed; };

        for (int scan = 0; scan < kScans; ++scan) {
            world.churn(*scripted);
            desktop.trusted = !world.chance(8);
            if (world.chance(10)) monitor->limit = static_cast<std::int64_t>(world.random() % 12) - 1;
            if (world.chance(10)) {
                monitor->inactiveMinutes = world.chance(30) ? std::nullopt : std::optional<std::int64_t>(1);
            }
            // Mostly small steps forward; now and then a jump, back as well.
            desktop.advance(world.chance(5) ? -600.0 : static_cast<double>(world.random() % 400) / 10.0);

            const auto before = Access::lastState(*monitor);
            const int observedBefore = observed;
            const std::size_t minimizedBefore = desktop.minimizedWindows().size();
            const int snapshotsBefore = source->count;
            monitor->scanNow();

            const auto after = Access::lastState(*monitor);
            ASSERT_TRUE(after.has_value());
            EXPECT_EQ(observed - observedBefore, before == after ? 0 : 1) << "change-only publication";
            EXPECT_EQ(desktop.liveElements(), 0u) << "every element released after the scan";

            const auto& lastTouched = Access::lastTouched(*monitor);
            const auto& openedAt = Access::openedAt(*monitor);
            if (source->count == snapshotsBefore) {
                EXPECT_TRUE(lastTouched.empty() && openedAt.empty()) << "untrusted scan forgets everything";
                EXPECT_EQ(after->visibleWindowCount, 0);
                continue;
            }
            ++trustedScans;

            std::set<std::string> minimizedIDs;
            const auto& minimized = desktop.minimizedWindows();
            for (std::size_t i = minimizedBefore; i < minimized.size(); ++i) {
                minimizedIDs.insert(testing_support::ScriptedSource::idOf(desktop, minimized[i]));
            }
            const auto successes = static_cast<std::int64_t>(minimized.size() - minimizedBefore);
            EXPECT_EQ(after->visibleWindowCount, static_cast<std::int64_t>(source->ids.size()) - successes);

            const std::set<std::string> listed(source->ids.begin(), source->ids.end());
            for (const auto& id : listed) {
                if (minimizedIDs.contains(id)) {
                    EXPECT_FALSE(lastTouched.contains(id) || openedAt.contains(id)) << "minimized " << id;
                } else {
                    EXPECT_TRUE(lastTouched.contains(id) && openedAt.contains(id)) << "kept " << id;
                }
            }
            for (const auto* table : {&lastTouched, &openedAt}) {
                for (const auto& entry : *table)
                    EXPECT_TRUE(listed.contains(entry.first)) << entry.first;
            }

            // With a unique focused identifier and a limit of 1 or more, the
            // focused window is never minimized, even across a clock set back.
            const auto& current = source->currentWindowID;
            if (current && monitor->limit >= 1 && std::count(source->ids.begin(), source->ids.end(), *current) == 1) {
                EXPECT_FALSE(minimizedIDs.contains(*current)) << "focused window minimized";
            }
        }
        monitor.reset();
        EXPECT_EQ(desktop.liveElements(), 0u);
        EXPECT_TRUE(desktop.accountingErrors().empty());
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << "desktop " << d;
            return;
        }
    }
    EXPECT_GT(trustedScans, kDesktops * kScans / 2);
}

} // namespace
} // namespace quellan
