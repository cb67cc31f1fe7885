// The workspace backend over NSWorkspace, NSRunningApplication and NSProcessInfo.
#include "Platform/macos/MacDesktop.hpp"
#include "Platform/macos/MacInternal.hpp"

namespace quellan::mac {
namespace {

workspace::ActivationPolicy policyOf(NSApplicationActivationPolicy policy) {
    switch (policy) {
    case NSApplicationActivationPolicyRegular:
        return workspace::ActivationPolicy::regular;
    case NSApplicationActivationPolicyAccessory:
        return workspace::ActivationPolicy::accessory;
    default:
        // A policy this build does not know: keep away from its windows.
        return workspace::ActivationPolicy::prohibited;
    }
}

workspace::RunningApplication describe(NSRunningApplication* application) {
    workspace::RunningApplication described;
    described.processIdentifier = [application processIdentifier];
    described.isTerminated = [application isTerminated];
    described.isHidden = [application isHidden];
    described.activationPolicy = policyOf([application activationPolicy]);
    if (NSString* name = [application localizedName]) described.localizedName = utf8String(name);
    return described;
}

class MacWorkspace final : public workspace::WorkspaceBackend {
public:
    std::optional<workspace::RunningApplication> frontmostApplication() override {
        @autoreleasepool {
            NSRunningApplication* frontmost = [[NSWorkspace sharedWorkspace] frontmostApplication];
            if (frontmost == nil) return std::nullopt;
            return describe(frontmost);
        }
    }

    std::vector<workspace::RunningApplication> runningApplications() override {
        @autoreleasepool {
            std::vector<workspace::RunningApplication> applications;
            NSArray* running = [[NSWorkspace sharedWorkspace] runningApplications];
            applications.reserve([running count]);
            for (NSRunningApplication* application in running)
                applications.push_back(describe(application));
            return applications;
        }
    }

    bool openURL(std::string_view url) override {
        @autoreleasepool {
            // URLWithString: gives nil for a malformed address.
            NSURL* address = [NSURL URLWithString:nsString(url)];
            if (address == nil) return false;
            return [[NSWorkspace sharedWorkspace] openURL:address];
        }
    }

    std::int32_t processIdentifier() override { return [[NSProcessInfo processInfo] processIdentifier]; }
};

} // namespace

std::unique_ptr<workspace::WorkspaceBackend> makeWorkspace() { return std::make_unique<MacWorkspace>(); }

} // namespace quellan::mac
