// Locale-aware comparison through ICU, under the locale the user's
// environment selects (LC_ALL, LC_COLLATE, LANG), read once at first use.
// The C/POSIX locale means no language was chosen; its collation is plain
// byte order, which cannot ignore case, so the language-neutral root
// collation stands in for it.
#include "Platform/Collation.hpp"

#include <cstring>
#include <memory>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>

namespace quellan::platform {
namespace {

std::unique_ptr<icu::Collator> makeCollator() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale& preferred = icu::Locale::getDefault();
    const bool isPosix = std::strcmp(preferred.getVariant(), "POSIX") == 0;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(isPosix ? icu::Locale::getRoot() : preferred, status));
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
    }
    if (U_FAILURE(status) || !collator) return nullptr;
    // Secondary strength: base letters and accents count, letter case does not.
    collator->setStrength(icu::Collator::SECONDARY);
    return collator;
}

} // namespace

ComparisonResult localizedCaseInsensitiveCompare(std::string_view a, std::string_view b) {
    static const std::unique_ptr<icu::Collator> collator = makeCollator();
    if (!collator) {
        // Without collation data the order is still total and stable.
        const int order = a.compare(b);
        return order < 0 ? ComparisonResult::ascending
                         : (order > 0 ? ComparisonResult::descending : ComparisonResult::same);
    }
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result =
        collator->compareUTF8(icu::StringPiece(a.data(), static_cast<std::int32_t>(a.size())),
                              icu::StringPiece(b.data(), static_cast<std::int32_t>(b.size())), status);
    if (U_FAILURE(status)) return ComparisonResult::same;
    return result == UCOL_LESS ? ComparisonResult::ascending
                               : (result == UCOL_GREATER ? ComparisonResult::descending : ComparisonResult::same);
}

} // namespace quellan::platform
