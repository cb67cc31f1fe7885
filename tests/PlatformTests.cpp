#include "Platform/AppKit.hpp"

#include <gtest/gtest.h>

#include <functional>

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

} // namespace
} // namespace quellan
