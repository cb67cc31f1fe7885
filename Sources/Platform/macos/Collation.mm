// Locale-aware comparison through Foundation: NSString's
// localizedCaseInsensitiveCompare under the user's current locale, which
// ignores letter case but not accents.
#include "Platform/Collation.hpp"
#include "Platform/macos/MacInternal.hpp"

namespace quellan::platform {

ComparisonResult localizedCaseInsensitiveCompare(std::string_view a, std::string_view b) {
    @autoreleasepool {
        // nsString never gives nil, so broken UTF-8 compares too.
        switch ([mac::nsString(a) localizedCaseInsensitiveCompare:mac::nsString(b)]) {
        case NSOrderedAscending:
            return ComparisonResult::ascending;
        case NSOrderedDescending:
            return ComparisonResult::descending;
        default:
            return ComparisonResult::same;
        }
    }
}

} // namespace quellan::platform
