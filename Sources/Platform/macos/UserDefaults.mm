// The user defaults over NSUserDefaults standardUserDefaults, whose reads
// already give 0 and NO for a missing key, as the layer's interface asks.
#include "Platform/macos/MacDesktop.hpp"
#include "Platform/macos/MacInternal.hpp"

namespace quellan::mac {
namespace {

static_assert(sizeof(NSInteger) == sizeof(std::int64_t), "the Mac build is 64-bit only");

class MacUserDefaults final : public platform::UserDefaults {
public:
    std::int64_t integerForKey(std::string_view key) const override {
        @autoreleasepool {
            return [[NSUserDefaults standardUserDefaults] integerForKey:nsString(key)];
        }
    }

    bool boolForKey(std::string_view key) const override {
        @autoreleasepool {
            return [[NSUserDefaults standardUserDefaults] boolForKey:nsString(key)];
        }
    }

    bool hasValueForKey(std::string_view key) const override {
        @autoreleasepool {
            return [[NSUserDefaults standardUserDefaults] objectForKey:nsString(key)] != nil;
        }
    }

    void setInteger(std::int64_t value, std::string_view key) override {
        @autoreleasepool {
            [[NSUserDefaults standardUserDefaults] setInteger:static_cast<NSInteger>(value) forKey:nsString(key)];
        }
    }

    void setBool(bool value, std::string_view key) override {
        @autoreleasepool {
            [[NSUserDefaults standardUserDefaults] setBool:value ? YES : NO forKey:nsString(key)];
        }
    }
};

} // namespace

std::unique_ptr<platform::UserDefaults> makeUserDefaults() { return std::make_unique<MacUserDefaults>(); }

} // namespace quellan::mac
