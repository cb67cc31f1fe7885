#include "Platform/qt/SettingsFormat.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace quellan::qt::settings {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool isPlainKeyByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string encodeKey(std::string_view key) {
    if (key.empty()) return "\"\"";
    std::string encoded;
    for (const char c : key) {
        if (isPlainKeyByte(c)) {
            encoded.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            encoded.push_back('%');
            encoded.push_back(kHexDigits[byte >> 4]);
            encoded.push_back(kHexDigits[byte & 0xF]);
        }
    }
    return encoded;
}

std::optional<std::string> decodeKey(std::string_view text, std::string& problem) {
    if (text == "\"\"") return std::string();
    if (text.empty()) {
        problem = "a setting without a name";
        return std::nullopt;
    }
    std::string key;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (isPlainKeyByte(c)) {
            key.push_back(c);
            continue;
        }
        if (c != '%') {
            problem = "the name holds a character that must be written as %XX";
            return std::nullopt;
        }
        const int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
            problem = "the name has an incomplete %XX escape";
            return std::nullopt;
        }
        key.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return key;
}

std::optional<platform::InMemoryUserDefaults::Stored> parseValue(std::string_view text, std::string& problem) {
    if (text == "true") return platform::InMemoryUserDefaults::Stored(true);
    if (text == "false") return platform::InMemoryUserDefaults::Stored(false);
    std::int64_t number = 0;
    // from_chars takes no leading '+'; a value written by hand may have one.
    const std::string_view digits = text.starts_with('+') ? text.substr(1) : text;
    if (digits.starts_with('+') || (text.starts_with('+') && digits.starts_with('-'))) {
        problem = "the value is not a whole number, true or false";
        return std::nullopt;
    }
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error == std::errc::result_out_of_range) {
        problem = "the number is out of range";
        return std::nullopt;
    }
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        problem = "the value is not a whole number, true or false";
        return std::nullopt;
    }
    return platform::InMemoryUserDefaults::Stored(number);
}

} // namespace

Parsed parse(std::string_view bytes) {
    const auto failure = [](std::size_t line, std::string message) {
        return Parsed{{}, ParseError{line, std::move(message)}};
    };
    if (bytes.size() > kMaximumFileSize) return failure(0, "the file is too large to be settings");
    if (bytes.find('\0') != std::string_view::npos) return failure(0, "the file holds binary data");
    if (!bytes.empty() && !bytes.ends_with('\n')) {
        const std::size_t lines = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
        return failure(lines, "the last line has no line break; the file may have been cut short");
    }
    Parsed parsed;
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t newline = bytes.find('\n', start);
        std::string_view line = bytes.substr(start, newline - start);
        start = newline + 1;
        ++lineNumber;
        if (line.ends_with('\r')) line.remove_suffix(1);
        const std::string_view content = trim(line);
        if (content.empty() || content.starts_with('#') || content.starts_with(';')) continue;
        const auto equals = content.find('=');
        if (equals == std::string_view::npos) return failure(lineNumber, "expected `name = value`");
        std::string problem;
        const auto key = decodeKey(trim(content.substr(0, equals)), problem);
        if (!key) return failure(lineNumber, problem);
        const auto value = parseValue(trim(content.substr(equals + 1)), problem);
        if (!value) return failure(lineNumber, problem);
        if (!parsed.values.emplace(*key, *value).second) {
            return failure(lineNumber, "the setting " + encodeKey(*key) + " is given twice");
        }
    }
    return parsed;
}

std::string serialize(const Values& values) {
    std::string text = "# Quellan settings. Quellan rewrites this file whenever a setting changes.\n";
    for (const auto& [key, value] : values) {
        text += encodeKey(key);
        text += " = ";
        if (const auto* flag = std::get_if<bool>(&value)) {
            text += *flag ? "true" : "false";
        } else {
            text += std::to_string(std::get<std::int64_t>(value));
        }
        text += '\n';
    }
    return text;
}

std::string describe(const ParseError& error) {
    if (error.line == 0) return error.message;
    return "line " + std::to_string(error.line) + ": " + error.message;
}

} // namespace quellan::qt::settings
