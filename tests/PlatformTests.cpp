#include "Platform/AppKit.hpp"
#include "Platform/SignalPipe.hpp"

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
