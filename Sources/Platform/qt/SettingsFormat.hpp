// The settings file's format, as pure functions from bytes to values and
// back, so that it can be tested and fuzzed without any toolkit.
//
//     # comment
//     WindowLimit = 4
//     LaunchAtLogin = true
//
// One `key = value` a line; a value is a whole number in the 64-bit range
// or true / false. Bytes of a key other than letters, digits and . _ -
// are written %XX; the empty key is written "". Blank lines and lines
// starting with # or ; are ignored. Every line ends with a line break, so
// a file cut short in the middle of a line is noticed.
#pragma once

#include "Platform/UserDefaults.hpp"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quellan::qt::settings {

using Values = std::map<std::string, platform::InMemoryUserDefaults::Stored, std::less<>>;

struct ParseError {
    std::size_t line = 0; ///< 1-based; 0 for the file as a whole
    std::string message;
    bool operator==(const ParseError&) const = default;
};

struct Parsed {
    Values values;                   ///< empty when there is an error
    std::optional<ParseError> error; ///< none when the bytes are a settings file
};

/// Files larger than this are not settings Quellan wrote.
inline constexpr std::size_t kMaximumFileSize = 1 << 20;

Parsed parse(std::string_view bytes);
std::string serialize(const Values& values);

/// "line 3: ..." or the message alone for the whole file.
std::string describe(const ParseError& error);

} // namespace quellan::qt::settings
