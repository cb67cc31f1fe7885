#include "Platform/macos/Utf16.hpp"

#include <gtest/gtest.h>

namespace quellan::mac {
namespace {

constexpr char16_t R = u'\uFFFD';

TEST(Utf16FromUtf8, WellFormedTextKeepsEveryCharacter) {
    EXPECT_EQ(utf16FromUtf8(""), u"");
    EXPECT_EQ(utf16FromUtf8("Mail - Inbox"), u"Mail - Inbox");
    EXPECT_EQ(utf16FromUtf8("r\xC3\xA9sum\xC3\xA9"), u"r\u00E9sum\u00E9");
    EXPECT_EQ(utf16FromUtf8("\xE2\x80\xA6"), u"\u2026");
    // Outside the basic plane: a surrogate pair.
    EXPECT_EQ(utf16FromUtf8("\xF0\x9F\x93\xA7"), std::u16string({0xD83D, 0xDCE7}));
    EXPECT_EQ(utf16FromUtf8("\xF4\x8F\xBF\xBF"), std::u16string({0xDBFF, 0xDFFF}));
    // Edges of each length, and an embedded NUL, which titles may hold.
    EXPECT_EQ(utf16FromUtf8("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"), u"\u007F\u0080\u07FF\u0800\uFFFF");
    EXPECT_EQ(utf16FromUtf8(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf16FromUtf8, EachMaximalIllFormedSubpartBecomesOneReplacement) {
    // Bytes that never start a sequence.
    EXPECT_EQ(utf16FromUtf8("ab\xFF\xFE"), (std::u16string{u'a', u'b', R, R}));
    EXPECT_EQ(utf16FromUtf8("\x80\xBF"), (std::u16string{R, R}));
    // Overlong forms, encoded surrogates and values past U+10FFFF fail at
    // their second byte, so every byte is replaced on its own.
    EXPECT_EQ(utf16FromUtf8("\xC0\x80"), (std::u16string{R, R}));
    EXPECT_EQ(utf16FromUtf8("\xE0\x80\x80"), (std::u16string{R, R, R}));
    EXPECT_EQ(utf16FromUtf8("\xED\xA0\x80"), (std::u16string{R, R, R}));
    EXPECT_EQ(utf16FromUtf8("\xF0\x80\x80\x80"), (std::u16string{R, R, R, R}));
    EXPECT_EQ(utf16FromUtf8("\xF4\x90\x80\x80"), (std::u16string{R, R, R, R}));
    // A sequence cut short is one replacement, and what cut it starts anew.
    EXPECT_EQ(utf16FromUtf8("\xE2\x82"), (std::u16string{R}));
    EXPECT_EQ(utf16FromUtf8("\xE2\x82"
                            "A"),
              (std::u16string{R, u'A'}));
    EXPECT_EQ(utf16FromUtf8("\xF0\x9F\x93"
                            "\xC3\xA9"),
              (std::u16string{R, u'\u00E9'}));
    EXPECT_EQ(utf16FromUtf8("\xE2\xE2\x82\xAC"), (std::u16string{R, u'\u20AC'}));
}

} // namespace
} // namespace quellan::mac
