// Locale-aware, case-insensitive comparison of user-visible texts.
#pragma once

#include <string_view>

namespace quellan::platform {

enum class ComparisonResult { ascending = -1, same = 0, descending = 1 };

/// Compares two UTF-8 texts under the user's current locale, ignoring
/// letter case (but not accents). Invalid UTF-8 is compared as if each
/// bad sequence were U+FFFD, never rejected.
ComparisonResult localizedCaseInsensitiveCompare(std::string_view a, std::string_view b);

} // namespace quellan::platform
