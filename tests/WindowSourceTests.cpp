// The window source against the simulated desktop: which windows count,
// which one is focused, and that every element is released.
#include "Platform/simulated/SimulatedDesktop.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"

#include <gtest/gtest.h>

namespace quellan {
namespace {

using simulated::Read;
using simulated::WindowID;

std::vector<std::string> titles(const WindowSnapshot& snapshot) {
    std::vector<std::string> out;
    for (const auto& w : snapshot.windows)
        out.push_back(w.applicationName + "/" + w.title);
    return out;
}

TEST(WindowSource, OnlyMinimizableStandardWindowsOfOtherRegularApplicationsCount) {
    simulated::SimulatedDesktop desktop;
    platform::ScopedBackends installed{desktop.backends()};
    const auto addWith = [&](std::int32_t pid, auto tweak) {
        tweak(desktop.addApplication(pid, "App").info);
        desktop.addWindow(pid, std::to_string(pid));
    };
    addWith(desktop.ownProcessIdentifier, [](auto&) {});
    addWith(11, [](auto& info) { info.isHidden = true; });
    addWith(12, [](auto& info) { info.isTerminated = true; });
    addWith(13, [](auto& info) { info.activationPolicy = workspace::ActivationPolicy::accessory; });
    addWith(15, [](auto& info) { info.localizedName.reset(); });
    addWith(-5, [](auto&) {});
    const auto add = [&](std::string title, auto tweak) { tweak(desktop.window(desktop.addWindow(-5, title).id)); };
    add("minimized", [](auto& x) { x.minimized = Read{ax::kSuccess, true}; });
    add("minimized unreadable", [](auto& x) { x.minimized = Read{ax::kNoValue, {}}; });
    add("not settable", [](auto& x) { x.settable = false; });
    add("settable fails", [](auto& x) { x.settableError = ax::kCannotComplete; });
    add("dialog", [](auto& x) { x.subrole = Read{ax::kSuccess, std::string("AXDialog")}; });
    add("role case", [](auto& x) { x.role = Read{ax::kSuccess, std::string("axwindow")}; });
    add("empty", [](auto& x) { x.title = Read{ax::kSuccess, std::string()}; });
    add("unsupported", [](auto& x) { x.title = Read{ax::kAttributeUnsupported, {}}; });
    add("not text", [](auto& x) { x.title = Read{ax::kSuccess, true}; });
    AccessibilityWindowSource source;
    EXPECT_EQ(titles(source.snapshot()),
              (std::vector<std::string>{"App/-5", "App/minimized unreadable", "App/", "App/Untitled Window",
                                        "App/Untitled Window", "Unknown App/15"}));
    desktop.trusted = false;
    EXPECT_TRUE(source.snapshot().windows.empty());
}

TEST(WindowSource, FocusCountsOnlyForAListedWindowOfTheFrontmostApplication) {
    simulated::SimulatedDesktop desktop;
    platform::ScopedBackends installed{desktop.backends()};
    desktop.addApplication(100, "Notes");
    const WindowID listed = desktop.addWindow(100, "a").id;
    const WindowID dialog = desktop.addWindow(100, "b").id;
    desktop.window(dialog).subrole = Read{ax::kSuccess, std::string("AXDialog")};
    AccessibilityWindowSource source;
    desktop.focus(dialog);
    EXPECT_FALSE(source.snapshot().currentWindowID) << "a focused dialog names no window";
    desktop.focus(listed);
    WindowSnapshot snapshot = source.snapshot();
    EXPECT_EQ(snapshot.currentWindowID, "100:" + std::to_string(desktop.window(listed).hash));
    desktop.frontmostProcessIdentifier = desktop.ownProcessIdentifier;
    EXPECT_FALSE(source.snapshot().currentWindowID) << "this program in front";
    snapshot = {};
    EXPECT_EQ(desktop.liveElements(), 0u);
}

} // namespace
} // namespace quellan
