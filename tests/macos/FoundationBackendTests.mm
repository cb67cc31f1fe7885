// The macOS backend's Foundation and AppKit pieces, headless: user
// defaults, run-loop timers, the collation and the menus built from models.
// Built by CMake on a Mac, and on Linux by scripts/macos-compile-check
// against GNUstep, where what GNUstep does otherwise is skipped, saying why.
#include "Platform/Collation.hpp"
#include "Platform/macos/MacDesktop.hpp"
#include "Platform/macos/MacInternal.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace quellan::mac {
namespace {

void runFor(double seconds, NSString* mode) {
    NSDate* until = [NSDate dateWithTimeIntervalSinceNow:seconds];
    while ([until timeIntervalSinceNow] > 0) {
        @autoreleasepool {
            // Returns at once when nothing is scheduled in the mode.
            [[NSRunLoop mainRunLoop] runMode:mode beforeDate:until];
        }
    }
}

TEST(MacUserDefaults, MissingKeysReadAsZeroAndValuesAreSharedByEveryInstance) {
    const std::string limit = "quellanTests.windowLimit", flag = "quellanTests.Fenster\xE2\x80\xA6";
    for (const auto& key : {limit, flag})
        [[NSUserDefaults standardUserDefaults] removeObjectForKey:nsString(key)];
    const auto writer = makeUserDefaults(), reader = makeUserDefaults();
    EXPECT_FALSE(reader->hasValueForKey(limit));
    EXPECT_EQ(reader->integerForKey(limit), 0);
    EXPECT_FALSE(reader->boolForKey(limit));

    writer->setInteger(0, limit);
    EXPECT_TRUE(reader->hasValueForKey(limit)) << "a stored 0 is a value";
    writer->setInteger(-7'000'000'000, limit);
    EXPECT_EQ(reader->integerForKey(limit), -7'000'000'000);
    writer->setBool(true, flag);
    EXPECT_TRUE(reader->boolForKey(flag));
    EXPECT_EQ(reader->integerForKey(flag), 1);
    for (const auto& key : {limit, flag})
        [[NSUserDefaults standardUserDefaults] removeObjectForKey:nsString(key)];
}

TEST(MacRunLoop, TimersRepeatEndFromTheirOwnTickAndTakeAnyInterval) {
    const auto loop = makeRunLoop();
    int ticks = 0, once = 0;
    std::shared_ptr<platform::Timer> repeating = loop->scheduledTimer(0.01, true, [&] {
        // Dropped from inside its own tick, the last handle included.
        if (++ticks == 3) repeating.reset();
    });
    const auto single = loop->scheduledTimer(0.01, false, [&] { ++once; });
    runFor(0.3, NSDefaultRunLoopMode);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(once, 1);
    EXPECT_FALSE(single->isValid());

    for (const double odd : {0.0, -1.0, std::nan("")})
        EXPECT_EQ(loop->scheduledTimer(odd, false, [] {})->timeInterval(), 0.0001) << odd;
    EXPECT_GT(loop->scheduledTimer(INFINITY, false, [] {})->timeInterval(), 3e8);
}

TEST(MacRunLoop, ATimerAddedToTheCommonModesTicksWhileAMenuTracks) {
#ifdef GNUSTEP
    GTEST_SKIP() << "GNUstep takes NSRunLoopCommonModes as one more mode of that name, not as a set of modes";
#endif
    const auto loop = makeRunLoop();
    int ticks = 0;
    const auto timer = loop->scheduledTimer(0.01, true, [&] { ++ticks; });
    runFor(0.1, NSEventTrackingRunLoopMode);
    EXPECT_EQ(ticks, 0);
    loop->addTimer(timer, platform::RunLoopMode::commonModes);
    runFor(0.1, NSEventTrackingRunLoopMode);
    EXPECT_GT(ticks, 0);
}

TEST(FoundationCollation, IgnoresCaseButNotAccents) {
    using platform::ComparisonResult;
    EXPECT_EQ(platform::localizedCaseInsensitiveCompare("Mail", "mAIL"), ComparisonResult::same);
    EXPECT_EQ(platform::localizedCaseInsensitiveCompare("apple", "Banana"), ComparisonResult::ascending);
#ifdef GNUSTEP
    // GNUstep compares at ICU's primary strength, which ignores accents too.
    EXPECT_EQ(platform::localizedCaseInsensitiveCompare("resume", "r\xC3\xA9sum\xC3\xA9"), ComparisonResult::same);
#else
    EXPECT_NE(platform::localizedCaseInsensitiveCompare("resume", "r\xC3\xA9sum\xC3\xA9"), ComparisonResult::same);
#endif
    EXPECT_EQ(platform::localizedCaseInsensitiveCompare("\xFF", "\xFF"), ComparisonResult::same) << "broken UTF-8";
}

struct RecordingTarget final : appkit::MenuTarget {
    std::vector<std::string> received;
    void performAction(std::string_view selector, const appkit::MenuItem& sender) override {
        received.push_back(std::string(selector) + " " + sender.title);
    }
};

/// What AppKit does when an item is chosen.
void choose(NSMenuItem* item) {
    using Send = void (*)(id, SEL, id);
    reinterpret_cast<Send>([[item target] methodForSelector:[item action]])([item target], [item action], item);
}

TEST(MacMenu, ModelsBecomeMenusWhoseItemsSendTheirActions) {
#ifdef GNUSTEP
    GTEST_SKIP() << "GNUstep's NSMenu makes its window at once, which needs an application on a display";
#endif
    const auto target = std::make_shared<RecordingTarget>();
    appkit::MenuItem label("Limit: 3 \xE2\x81\xA8"
                           "Caf\xC3\xA9\xE2\x81\xA9",
                           std::nullopt, "");
    label.enabled = false;
    appkit::MenuItem three("3", "setWindowLimit:", "");
    three.target = target;
    three.state = appkit::ControlState::on;
    three.representedObject = std::int64_t{3};
    appkit::MenuItem limits("Window Limit", std::nullopt, "");
    limits.submenu = std::make_shared<appkit::Menu>();
    limits.submenu->addItem(three);
    appkit::MenuItem quit("Quit Quellan", "terminate:", "q");
    quit.target = target;
    appkit::Menu model;
    for (auto& item : {label, appkit::MenuItem::separatorItem(), limits, quit})
        model.addItem(item);

    @autoreleasepool {
        NSMenu* menu = buildMenu(model);
        EXPECT_FALSE([menu autoenablesItems]);
        ASSERT_EQ([menu numberOfItems], 4);
        EXPECT_EQ(utf8String([[menu itemAtIndex:0] title]), label.title);
        EXPECT_FALSE([[menu itemAtIndex:0] isEnabled]);
        EXPECT_TRUE([[menu itemAtIndex:1] isSeparatorItem]);
        NSMenuItem* choice = [[[menu itemAtIndex:2] submenu] itemAtIndex:0];
        EXPECT_EQ([choice state], NSControlStateValueOn);
        EXPECT_EQ([[choice representedObject] longLongValue], 3);
        EXPECT_TRUE([[[menu itemAtIndex:3] keyEquivalent] isEqualToString:@"q"]);
        EXPECT_EQ([[menu itemAtIndex:3] keyEquivalentModifierMask] & NSEventModifierFlagCommand,
                  NSEventModifierFlagCommand);

        choose(choice);
        choose([menu itemAtIndex:3]);
    }
    EXPECT_EQ(target->received, (std::vector<std::string>{"setWindowLimit: 3", "terminate: Quit Quellan"}));
}

} // namespace
} // namespace quellan::mac
