// The window source against the simulated desktop: which windows count,
// the calls it makes and their order, and that every element is released.
#include "Platform/simulated/SimulatedDesktop.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace quellan {
namespace {

using simulated::Read;
using simulated::SimulatedDesktop;
using simulated::WindowID;

struct SourceFixture {
    SimulatedDesktop desktop;
    platform::ScopedBackends installed{desktop.backends()};
    std::optional<AccessibilityWindowSource> source;

    AccessibilityWindowSource& make() {
        source.emplace();
        desktop.clearCalls();
        desktop.resetCounts();
        return *source;
    }
    std::vector<std::string> titles(const WindowSnapshot& snapshot) const {
        std::vector<std::string> out;
        for (const auto& w : snapshot.windows)
            out.push_back(w.title);
        return out;
    }
    std::string idOf(WindowID window) {
        const auto& w = desktop.window(window);
        return windowIdentifier(w.processIdentifier, w.hash);
    }
};

TEST(WindowSource, WithoutTrustOnlyTheTrustCheckIsMade) {
    SourceFixture f;
    f.desktop.addApplication(100, "Notes");
    f.desktop.focus(f.desktop.addWindow(100, "a").id);
    f.desktop.trusted = false;
    const auto snapshot = f.make().snapshot();
    EXPECT_TRUE(snapshot.windows.empty());
    EXPECT_FALSE(snapshot.currentWindowID);
    EXPECT_EQ(f.desktop.calls(), std::vector<std::string>{"AXIsProcessTrusted"}) << "and never a prompt";
}

TEST(WindowSource, CallsComeInTheirOrderAndOnlyTheFrontmostIsAskedForFocus) {
    SourceFixture f;
    f.desktop.addApplication(900, "Mail");
    f.desktop.addApplication(120, "Notes");
    const WindowID mail = f.desktop.addWindow(900, "Inbox").id;
    const WindowID dialog = f.desktop.addWindow(120, "Save?").id;
    f.desktop.window(dialog).subrole = Read{ax::kSuccess, std::string("AXDialog")};
    const WindowID note = f.desktop.addWindow(120, "Note").id;
    f.desktop.focus(mail);
    const auto snapshot = f.make().snapshot();

    const std::string m = std::to_string(mail), d = std::to_string(dialog), n = std::to_string(note);
    EXPECT_EQ(f.desktop.calls(), (std::vector<std::string>{
                                     "AXIsProcessTrusted",
                                     "frontmostApplication",
                                     "runningApplications",
                                     "AXUIElementCreateApplication 120",
                                     "copy app:120 AXWindows",
                                     "copy win:" + d + " AXRole",
                                     "copy win:" + d + " AXSubrole",
                                     "copy win:" + n + " AXRole",
                                     "copy win:" + n + " AXSubrole",
                                     "copy win:" + n + " AXMinimized",
                                     "settable win:" + n + " AXMinimized",
                                     "hash win:" + n,
                                     "copy win:" + n + " AXTitle",
                                     "AXUIElementCreateApplication 900",
                                     "copy app:900 AXFocusedWindow",
                                     "copy app:900 AXWindows",
                                     "copy win:" + m + " AXRole",
                                     "copy win:" + m + " AXSubrole",
                                     "copy win:" + m + " AXMinimized",
                                     "settable win:" + m + " AXMinimized",
                                     "hash win:" + m,
                                     "copy win:" + m + " AXTitle",
                                     "equal win:" + m + " win:" + m,
                                 }));
    EXPECT_EQ(f.titles(snapshot), (std::vector<std::string>{"Note", "Inbox"})) << "ascending process id";
    EXPECT_EQ(snapshot.currentWindowID, f.idOf(mail));
    EXPECT_EQ(snapshot.windows[1].applicationName, "Mail");
}

TEST(WindowSource, OnlyVisibleRegularApplicationsOtherThanOurOwnCount) {
    SourceFixture f;
    const auto addWith = [&](std::int32_t pid, auto tweak) {
        tweak(f.desktop.addApplication(pid, "App").info);
        return f.desktop.addWindow(pid, std::to_string(pid)).id;
    };
    addWith(f.desktop.ownProcessIdentifier, [](auto&) {});
    addWith(11, [](auto& info) { info.isHidden = true; });
    addWith(12, [](auto& info) { info.isTerminated = true; });
    addWith(13, [](auto& info) { info.activationPolicy = workspace::ActivationPolicy::accessory; });
    addWith(14, [](auto& info) { info.activationPolicy = workspace::ActivationPolicy::prohibited; });
    addWith(-5, [](auto&) {});
    addWith(15, [](auto& info) { info.localizedName.reset(); });
    const auto snapshot = f.make().snapshot();
    EXPECT_EQ(f.titles(snapshot), (std::vector<std::string>{"-5", "15"})) << "signed order";
    EXPECT_EQ(snapshot.windows[1].applicationName, "Unknown App");
    EXPECT_EQ(f.desktop.counts().createApplication, 2) << "left-out applications are never asked";
}

TEST(WindowSource, WindowTestsDropWhatCannotOrNeedNotBeMinimized) {
    SourceFixture f;
    f.desktop.addApplication(100, "Notes");
    std::map<std::string, WindowID> w;
    const auto add = [&](std::string title, auto tweak) {
        tweak(f.desktop.window(w[title] = f.desktop.addWindow(100, title).id));
    };
    add("plain", [](auto&) {});
    add("minimized", [](auto& x) { x.minimized = Read{ax::kSuccess, true}; });
    add("minimized unreadable", [](auto& x) { x.minimized = Read{ax::kNoValue, {}}; });
    add("minimized null", [](auto& x) { x.minimized = Read{ax::kSuccess, {}}; });
    add("minimized as text", [](auto& x) { x.minimized = Read{ax::kSuccess, std::string("true")}; });
    add("not settable", [](auto& x) { x.settable = false; });
    add("settable fails", [](auto& x) { x.settableError = ax::kCannotComplete; });
    add("dialog", [](auto& x) { x.subrole = Read{ax::kSuccess, std::string("AXDialog")}; });
    add("role case", [](auto& x) { x.role = Read{ax::kSuccess, std::string("axwindow")}; });
    add("role unreadable", [](auto& x) { x.role = Read{ax::kFailure, {}}; });
    add("role number", [](auto& x) { x.role = Read{ax::kSuccess, 1.0}; });
    add("subrole null", [](auto& x) { x.subrole = Read{ax::kSuccess, {}}; });
    add("t1", [](auto& x) { x.title = Read{ax::kSuccess, std::string()}; });
    add("t2", [](auto& x) { x.title = Read{ax::kAttributeUnsupported, {}}; });
    add("t3", [](auto& x) { x.title = Read{ax::kSuccess, true}; });
    add("t4", [](auto& x) { x.title = Read{ax::kSuccess, std::string("tab\there \xff\xfe")}; });
    const auto snapshot = f.make().snapshot();
    EXPECT_EQ(f.titles(snapshot),
              (std::vector<std::string>{"plain", "minimized unreadable", "minimized null", "minimized as text", "",
                                        "Untitled Window", "Untitled Window", "tab\there \xff\xfe"}));
}

TEST(WindowSource, FocusCountsOnlyForAListedWindowOfTheFrontmostApplication) {
    SourceFixture f;
    f.desktop.addApplication(100, "Notes");
    const WindowID listed = f.desktop.addWindow(100, "a").id;
    const WindowID dialog = f.desktop.addWindow(100, "b").id;
    f.desktop.window(dialog).subrole = Read{ax::kSuccess, std::string("AXDialog")};
    auto& source = f.make();

    f.desktop.focus(dialog);
    auto snapshot = source.snapshot();
    EXPECT_EQ(snapshot.windows.size(), 1u);
    EXPECT_FALSE(snapshot.currentWindowID) << "a focused dialog names no window";

    f.desktop.focus(listed);
    f.desktop.frontmostProcessIdentifier = f.desktop.ownProcessIdentifier;
    f.desktop.addApplication(f.desktop.ownProcessIdentifier, "Us");
    EXPECT_FALSE(source.snapshot().currentWindowID) << "this program in front";

    f.desktop.frontmostProcessIdentifier = 100;
    for (const Read& read : {Read{ax::kFailure, simulated::WindowRef{listed}}, Read{ax::kSuccess, {}},
                             Read{ax::kSuccess, std::string("a")}}) {
        f.desktop.application(100).focusedWindowRead = read;
        snapshot = source.snapshot();
        EXPECT_FALSE(snapshot.currentWindowID);
        EXPECT_EQ(snapshot.windows.size(), 1u);
    }
    f.desktop.application(100).focusedWindowRead.reset();
    EXPECT_EQ(source.snapshot().currentWindowID, f.idOf(listed));
    EXPECT_EQ(f.desktop.liveElements(), 1u) << "the one record still held";
    snapshot = {};
    EXPECT_EQ(f.desktop.liveElements(), 0u);
}

TEST(WindowSource, AnApplicationWithoutAUsableWindowListLeavesTheOthers) {
    SourceFixture f;
    f.desktop.addApplication(100, "Broken");
    f.desktop.addApplication(200, "Fine");
    f.desktop.addWindow(100, "lost");
    f.desktop.addWindow(200, "kept");
    auto& source = f.make();
    auto& broken = f.desktop.application(100);
    const std::vector<std::function<void()>> faults{
        [&] { broken.windowsError = ax::kCannotComplete; },
        [&] { broken.windowsReplacement = simulated::Scripted{}; },
        [&] { broken.windowsReplacement = std::string("AXWindow"); },
        [&] { broken.windows.clear(); },
    };
    for (const auto& fault : faults) {
        fault();
        EXPECT_EQ(f.titles(source.snapshot()), std::vector<std::string>{"kept"});
        EXPECT_EQ(f.desktop.liveElements(), 0u);
    }
}

TEST(WindowSource, AMixedWindowListKeepsItsElements) {
    SourceFixture f;
    f.desktop.addApplication(100, "Notes");
    const WindowID first = f.desktop.addWindow(100, "first").id;
    f.desktop.addWindow(100, "second");
    auto& app = f.desktop.application(100);
    app.windowsExtras = {std::string("junk"), 3.0, simulated::Scripted{}, simulated::WindowRef{first}};
    const auto snapshot = f.make().snapshot();
    EXPECT_EQ(f.titles(snapshot), (std::vector<std::string>{"first", "second", "first"}))
        << "a window listed twice is recorded twice, under one id";
    EXPECT_EQ(snapshot.windows[0].id, snapshot.windows[2].id);
}

} // namespace
} // namespace quellan
