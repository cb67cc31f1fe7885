// Exact conversions of window titles; the fuzzers check what must hold of
// every decoder for any bytes.
#include "Platform/x11/PropertyDecoding.hpp"

#include <gtest/gtest.h>

namespace quellan::x11 {
namespace {

constexpr Atom kUtf8 = 300, kCompound = 301;
const TextTypes kTypes{.utf8String = kUtf8, .compoundText = kCompound};

TEST(PropertyDecoding, TitlesInEveryEncodingBecomeTidyUtf8) {
    // \u escapes are UTF-8 here; \x bytes are raw.
    const struct {
        Atom type;
        std::string bytes;
        std::size_t cap;
        std::string expected;
    } cases[] = {
        {kUtf8, "Gr\u00FC\u00DFe", kMaxTextBytes, "Gr\u00FC\u00DFe"},
        {kUtf8, "bad\xFF\xFEtitle", kMaxTextBytes, "bad\uFFFD\uFFFDtitle"},
        {kUtf8, std::string("cut\0rest", 8), kMaxTextBytes, "cut"},
        {kUtf8, "a\tb\x7F\u0063", kMaxTextBytes, "a b c"},
        {kStringType, "Caf\xE9", kMaxTextBytes, "Caf\u00E9"},
        {999, "Caf\u00E9", kMaxTextBytes, "Caf\u00E9"}, // unknown type: UTF-8 when valid,
        {999, "Caf\xE9", kMaxTextBytes, "Caf\u00E9"},   // Latin-1 otherwise
        {kCompound, "\x1B-Ar\xE9sum\xE9", kMaxTextBytes, "r\u00E9sum\u00E9"},
        {kCompound, "a\x1B%G\u20AC\x1B%@b", kMaxTextBytes, "a\u20ACb"},
        {kCompound, "\x1B$(B\x30\x21\x30\x22\x1B(Bok", kMaxTextBytes, "\uFFFD\uFFFDok"},
        {kCompound, "ab\x1B(", kMaxTextBytes, "ab"},
        // A cut falls between characters; a control character counts as its space.
        {kUtf8, "ab\u20AC", 4, "ab"},
        {kStringType, "ab\x85", 3, "ab "},
        {kUtf8, "ab\u0085\u009Fz", 4, "ab  "},
    };
    for (const auto& c : cases) {
        const RawProperty raw{c.type, 8, {reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()}};
        EXPECT_EQ(decodeText(raw, kTypes, c.cap), c.expected) << c.bytes;
    }
}

} // namespace
} // namespace quellan::x11
