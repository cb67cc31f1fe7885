#include "Platform/AppKit.hpp"
#include "Platform/Collation.hpp"
#include "Platform/UserDefaults.hpp"
#include "Platform/simulated/SimulatedDesktop.hpp"
#include "Quellan/AccessibilityWindowSource.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quellan {
namespace {

TEST(Element, CopiesRetainAndEveryReferenceIsReleasedOnce) {
    simulated::SimulatedDesktop desktop;
    platform::ScopedBackends installed(desktop.backends());
    desktop.addApplication(1, "A");
    const auto window = desktop.addWindow(1, "w").id;
    {
        ax::Element first = desktop.makeWindowElement(window);
        ax::Element copy = first;
        ax::Element moved = std::move(first);
        EXPECT_FALSE(first);
        copy = moved;
        moved = ax::Element();
        std::vector<ax::Element> many(5, copy);
        EXPECT_EQ(desktop.liveElements(), 1u);
        ax::Value value = ax::Value::list({ax::Value::element(copy), ax::Value::text("x")});
        ax::Value other = value;
        EXPECT_EQ(desktop.liveElements(), 1u);
    }
    EXPECT_EQ(desktop.liveElements(), 0u);
    EXPECT_TRUE(desktop.accountingErrors().empty());
}

TEST(Element, NullHandlesAreRefusedWithoutReachingTheBackend) {
    simulated::SimulatedDesktop desktop;
    platform::ScopedBackends installed(desktop.backends());
    ax::Value value = ax::Value::text("stale");
    EXPECT_NE(ax::copyAttributeValue(ax::Element(), ax::kRoleAttribute, value), ax::kSuccess);
    EXPECT_TRUE(value.isNull());
    EXPECT_TRUE(ax::equal(ax::Element(), ax::Element()));
    EXPECT_EQ(ax::hash(ax::Element()), 0u);
    EXPECT_EQ(desktop.counts().copyAttributeValue, 0);
}

TEST(WindowIdentifier, IsProcessIdColonUnsignedHash) {
    EXPECT_EQ(windowIdentifier(412, 977), "412:977");
    EXPECT_EQ(windowIdentifier(1, 0), "1:0");
    EXPECT_EQ(windowIdentifier(-5, 0xFFFFFFFFFFFFFFFFULL), "-5:18446744073709551615");
}

TEST(Collation, IgnoresCaseButNotLetters) {
    using platform::ComparisonResult;
    using platform::localizedCaseInsensitiveCompare;
    EXPECT_EQ(localizedCaseInsensitiveCompare("mail", "Notes"), ComparisonResult::ascending);
    EXPECT_EQ(localizedCaseInsensitiveCompare("Mail", "mail"), ComparisonResult::same);
    EXPECT_EQ(localizedCaseInsensitiveCompare("Budget", "inbox"), ComparisonResult::ascending);
    EXPECT_EQ(localizedCaseInsensitiveCompare("zeta", "Alpha"), ComparisonResult::descending);
    EXPECT_NE(localizedCaseInsensitiveCompare("resume", "résumé"), ComparisonResult::same);
    // Broken UTF-8 compares without failing, and consistently.
    const std::string broken = "ab\xff\xfe";
    EXPECT_EQ(localizedCaseInsensitiveCompare(broken, broken), ComparisonResult::same);
    EXPECT_EQ(localizedCaseInsensitiveCompare(broken, "zz"), ComparisonResult::ascending);
}

TEST(InMemoryUserDefaults, MissingKeysReadAsZeroAndFalse) {
    platform::InMemoryUserDefaults defaults;
    EXPECT_EQ(defaults.integerForKey("windowLimit"), 0);
    EXPECT_FALSE(defaults.boolForKey("inactiveMinimizeEnabled"));
    defaults.setInteger(7, "windowLimit");
    defaults.setBool(true, "flag");
    EXPECT_EQ(defaults.integerForKey("windowLimit"), 7);
    EXPECT_TRUE(defaults.boolForKey("windowLimit"));
    EXPECT_EQ(defaults.integerForKey("flag"), 1);
}

struct NoTarget : appkit::MenuTarget {
    void performAction(std::string_view, const appkit::MenuItem&) override {}
};

TEST(CompareMenus, AnyDifferenceThatShowsOrActsCountsButLabelTitles) {
    const auto target = std::make_shared<NoTarget>(), other = std::make_shared<NoTarget>();
    const auto make = [&](const std::function<void(appkit::MenuItem&, appkit::MenuItem&, appkit::MenuItem&)>& change) {
        appkit::MenuItem row("3", "setLimit:", ""), inner("1 minute", "setInactive:", ""), label("5s", {}, "");
        row.target = target;
        row.representedObject = std::int64_t{3};
        row.state = appkit::ControlState::on;
        inner.target = target;
        change(row, inner, label);
        auto submenu = std::make_shared<appkit::Menu>();
        submenu->addItem(inner);
        submenu->addItem(label);
        appkit::MenuItem parent("Minimize inactive", std::nullopt, "");
        parent.submenu = submenu;
        appkit::Menu menu;
        menu.addItem(row);
        menu.addItem(appkit::MenuItem::separatorItem());
        menu.addItem(parent);
        return menu;
    };
    const appkit::Menu base = make([](auto&, auto&, auto&) {});
    using appkit::MenuDifference;
    EXPECT_EQ(appkit::compareMenus(base, make([](auto&, auto&, auto&) {})), MenuDifference::none);
    EXPECT_EQ(appkit::compareMenus(base, make([](auto&, auto&, auto& label) { label.title = "6s"; })),
              MenuDifference::labelTitles);
    const std::vector<std::function<void(appkit::MenuItem&, appkit::MenuItem&, appkit::MenuItem&)>> changes{
        [](auto& row, auto&, auto&) { row.title = "4"; },
        [](auto& row, auto&, auto&) { row.action = "setOther:"; },
        [](auto& row, auto&, auto&) { row.keyEquivalent = "q"; },
        [](auto& row, auto&, auto&) { row.representedObject = std::int64_t{4}; },
        [](auto& row, auto&, auto&) { row.representedObject = std::string("3"); },
        [](auto& row, auto&, auto&) { row.state = appkit::ControlState::off; },
        [](auto& row, auto&, auto&) { row.enabled = false; },
        [&](auto& row, auto&, auto&) { row.target = other; },
        [](auto& row, auto&, auto&) { row.isSeparator = true; },
        [](auto&, auto& inner, auto&) { inner.title = "5 minutes"; },
        [](auto&, auto& inner, auto&) { inner.state = appkit::ControlState::on; },
        [](auto&, auto&, auto& label) { label.enabled = false; },
        [](auto&, auto&, auto& label) {
            label.title = "6s";
            label.isSeparator = true;
        },
    };
    for (std::size_t i = 0; i < changes.size(); ++i)
        EXPECT_EQ(appkit::compareMenus(base, make(changes[i])), MenuDifference::other) << "change " << i;
    appkit::Menu longer = base;
    longer.addItem(appkit::MenuItem("Quit", "terminate:", "q"));
    EXPECT_EQ(appkit::compareMenus(base, longer), MenuDifference::other);
    EXPECT_EQ(appkit::compareMenus(longer, base), MenuDifference::other);
}

} // namespace
} // namespace quellan
