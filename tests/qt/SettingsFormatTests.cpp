#include "Platform/qt/SettingsFormat.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace quellan::qt::settings {
namespace {

using Stored = platform::InMemoryUserDefaults::Stored;

TEST(SettingsFormat, ReadsNumbersBooleansCommentsAndBlankLines) {
    const Parsed parsed = parse("# written by hand\n"
                                "\n"
                                "WindowLimit = 4\r\n"
                                "  ; another comment\n"
                                "LaunchAtLogin=true\n"
                                "Paused =\tfalse  \n"
                                "Offset = -9223372036854775808\n"
                                "Plus = +7\n");
    ASSERT_FALSE(parsed.error) << describe(*parsed.error);
    EXPECT_EQ(parsed.values, (Values{{"WindowLimit", Stored(std::int64_t{4})},
                                     {"LaunchAtLogin", Stored(true)},
                                     {"Paused", Stored(false)},
                                     {"Offset", Stored(std::numeric_limits<std::int64_t>::min())},
                                     {"Plus", Stored(std::int64_t{7})}}));
    EXPECT_FALSE(parse("").error);
}

TEST(SettingsFormat, RoundTripsAnyKeyAndTheExtremes) {
    const Values values{{"", Stored(true)},
                        {"plain.key_1-x", Stored(std::int64_t{0})},
                        {"with space = and # and %", Stored(false)},
                        {std::string("nul\0byte", 8), Stored(std::int64_t{1})},
                        {"\xC3\xA9t\xC3\xA9 \xE2\x80\xA6", Stored(std::numeric_limits<std::int64_t>::max())},
                        {"\"\"", Stored(std::numeric_limits<std::int64_t>::min())}};
    const std::string text = serialize(values);
    const Parsed parsed = parse(text);
    ASSERT_FALSE(parsed.error) << describe(*parsed.error) << "\n" << text;
    EXPECT_EQ(parsed.values, values);
}

// Each of these is something Quellan never writes; none may be half-read.
TEST(SettingsFormat, RejectsWhatIsNotASettingsFile) {
    const struct {
        std::string bytes;
        std::size_t line;
        std::string fragment;
    } cases[] = {
        {"WindowLimit = 4\nLaunch", 2, "cut short"},
        {"WindowLimit = 4", 1, "cut short"},
        {"WindowLimit = 4\nPaused = tr\n", 2, "not a whole number"},
        {"WindowLimit = four\n", 1, "not a whole number"},
        {"WindowLimit = 4.5\n", 1, "not a whole number"},
        {"WindowLimit = \n", 1, "not a whole number"},
        {"WindowLimit = ++4\n", 1, "not a whole number"},
        {"WindowLimit = +-4\n", 1, "not a whole number"},
        {"WindowLimit = 0x10\n", 1, "not a whole number"},
        {"WindowLimit = TRUE\n", 1, "not a whole number"},
        {"WindowLimit = 9223372036854775808\n", 1, "out of range"},
        {"WindowLimit = -9223372036854775809\n", 1, "out of range"},
        {"WindowLimit = 4\nWindowLimit = 5\n", 2, "given twice"},
        {"just words\n", 1, "name = value"},
        {" = 3\n", 1, "without a name"},
        {"Window Limit = 3\n", 1, "%XX"},
        {"Window%2 = 3\n", 1, "incomplete"},
        {"Window%zz = 3\n", 1, "incomplete"},
        {"\xC3\xA9 = 3\n", 1, "%XX"},
        {std::string("Window\0Limit = 3\n", 17), 0, "binary"},
        {std::string(kMaximumFileSize + 1, '\n'), 0, "too large"},
    };
    for (const auto& example : cases) {
        const Parsed parsed = parse(example.bytes);
        ASSERT_TRUE(parsed.error) << example.bytes;
        EXPECT_EQ(parsed.error->line, example.line) << example.bytes;
        EXPECT_NE(describe(*parsed.error).find(example.fragment), std::string::npos)
            << example.bytes << " -> " << describe(*parsed.error);
        EXPECT_TRUE(parsed.values.empty()) << example.bytes;
    }
}

} // namespace
} // namespace quellan::qt::settings
