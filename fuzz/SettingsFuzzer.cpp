// The settings file on any bytes: read as a file a person or a crash left
// behind, and read as values to write, so both directions get tried.
//
// As a file: the input is the file. As values: records of a key length
// byte, that many key bytes, then a tag byte (even: a number in the next
// eight bytes, odd: a boolean, its bit 1 the value), until the bytes run out.
#include "FuzzSupport.hpp"
#include "Platform/qt/SettingsFormat.hpp"

#include <algorithm>
#include <vector>

namespace quellan::qt::settings {
namespace {

using Stored = platform::InMemoryUserDefaults::Stored;

std::size_t lineCount(std::string_view bytes) {
    return static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
}

/// What is written reads back as the same values, and writing those again
/// gives the same text.
void checkRoundTrip(const Values& values) {
    const std::string text = serialize(values);
    QUELLAN_FUZZ_CHECK(text.ends_with('\n'));
    QUELLAN_FUZZ_CHECK(text.find('\0') == std::string::npos);
    const Parsed again = parse(text);
    QUELLAN_FUZZ_CHECK(!again.error);
    QUELLAN_FUZZ_CHECK(again.values == values);
    QUELLAN_FUZZ_CHECK(serialize(again.values) == text);
}

void checkFile(std::string_view bytes) {
    const Parsed parsed = parse(bytes);
    if (parsed.error) {
        // Nothing half-read, and a message that points into the file.
        QUELLAN_FUZZ_CHECK(parsed.values.empty());
        QUELLAN_FUZZ_CHECK(!parsed.error->message.empty());
        QUELLAN_FUZZ_CHECK(parsed.error->line <= lineCount(bytes));
        QUELLAN_FUZZ_CHECK(describe(*parsed.error).ends_with(parsed.error->message));
    } else {
        QUELLAN_FUZZ_CHECK(bytes.empty() || bytes.ends_with('\n'));
        checkRoundTrip(parsed.values);
        // Comments and blank lines added at the end change nothing.
        QUELLAN_FUZZ_CHECK(parse(std::string(bytes) + "\n# note = 1\n  ; x\n\t\n").values == parsed.values);
    }

    // The same file with Windows line breaks reads the same, error and all.
    if (bytes.find('\r') == std::string_view::npos) {
        std::string crlf;
        for (const char c : bytes) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        if (crlf.size() <= kMaximumFileSize) {
            const Parsed windows = parse(crlf);
            QUELLAN_FUZZ_CHECK(windows.values == parsed.values);
            QUELLAN_FUZZ_CHECK(windows.error == parsed.error);
        }
    }
}

Values valuesFrom(fuzz::Reader reader) {
    Values values;
    while (!reader.rest().empty()) {
        const std::size_t length = reader.byte();
        const std::span<const std::uint8_t> rest = reader.rest();
        std::string key(fuzz::chars(rest.first(std::min(length, rest.size()))));
        reader = fuzz::Reader(rest.subspan(key.size()));
        const std::uint8_t tag = reader.byte();
        if (tag % 2 == 0) {
            const std::uint64_t low = reader.word(), high = reader.word();
            values.insert_or_assign(std::move(key), Stored(static_cast<std::int64_t>(high << 32 | low)));
        } else {
            values.insert_or_assign(std::move(key), Stored((tag & 2) != 0));
        }
    }
    return values;
}

} // namespace
} // namespace quellan::qt::settings

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quellan::qt::settings;
    checkFile(quellan::fuzz::chars({data, size}));
    checkRoundTrip(valuesFrom(quellan::fuzz::Reader({data, size})));
    return 0;
}
