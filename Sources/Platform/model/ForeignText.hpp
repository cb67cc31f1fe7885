// Text other programs supply (titles, names), made safe to show: valid
// UTF-8 with no control characters, of a bounded length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quellan::platform {

/// The longest application name, in UTF-8 bytes.
inline constexpr std::size_t kMaxNameBytes = 256;
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

/// Appends `c` to `out` as UTF-8.
void appendCodePoint(std::string& out, char32_t c);

bool isValidUtf8(std::string_view text);

/// `text` with every invalid UTF-8 sequence replaced by U+FFFD (one per
/// maximal invalid subpart).
std::string repairUtf8(std::string_view text);

/// Replaces control characters (C0, DEL, C1) with spaces and cuts the
/// valid UTF-8 `text` to at most `maxBytes` on a character boundary.
std::string tidy(std::string_view text, std::size_t maxBytes);

/// A process name as /proc/<pid>/comm holds it: one line, trailing newline
/// dropped; absent when empty.
std::optional<std::string> decodeProcessName(std::span<const std::uint8_t> bytes);

/// The name of local process `processIdentifier`, from /proc; none when unknown.
std::optional<std::string> processName(std::int32_t processIdentifier);

} // namespace quellan::platform
