// UTF-8 to UTF-16 for the system's string types, which refuse ill-formed
// UTF-8 outright (a nil NSString, a NULL CFString) where Quellan must show
// or compare the text anyway.
#pragma once

#include <string>
#include <string_view>

namespace quellan::mac {

/// `text` as UTF-16. Each maximal ill-formed subsequence becomes one U+FFFD,
/// as Unicode recommends and as ICU does on the Linux port, so the two ports
/// order and show broken names alike.
std::u16string utf16FromUtf8(std::string_view text);

} // namespace quellan::mac
