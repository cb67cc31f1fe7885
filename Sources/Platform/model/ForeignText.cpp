#include "Platform/model/ForeignText.hpp"

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <unistd.h>

namespace quellan::platform {
namespace {

// Length of the valid UTF-8 sequence at `i`, or 0 with `invalidLength`
// set to the maximal invalid subpart to replace.
std::size_t validSequenceAt(std::string_view text, std::size_t i, std::size_t& invalidLength) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    invalidLength = 1;
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // no overlong forms
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= text.size()) {
            invalidLength = k;
            return 0;
        }
        const unsigned char next = byte(i + k);
        const unsigned char min = k == 1 ? low : 0x80;
        const unsigned char max = k == 1 ? high : 0xBF;
        if (next < min || next > max) {
            invalidLength = k;
            return 0;
        }
    }
    return length;
}

std::string_view asChars(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

} // namespace

void appendCodePoint(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool isValidUtf8(std::string_view text) {
    std::size_t invalid = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = validSequenceAt(text, i, invalid);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string repairUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t invalid = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = validSequenceAt(text, i, invalid);
        if (length == 0) {
            appendCodePoint(out, kReplacementCharacter);
            i += invalid;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string tidy(std::string_view text, std::size_t maxBytes) {
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    std::size_t invalid = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = validSequenceAt(text, i, invalid);
        if (length == 0) { // not reached for repaired input; kept safe anyway
            ++i;
            continue;
        }
        const auto lead = static_cast<unsigned char>(text[i]);
        const bool c0 = lead < 0x20 || lead == 0x7F;
        const bool c1 = lead == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        // The cap counts what is written: a two-byte C1 control becomes one space.
        const std::string_view piece = c0 || c1 ? std::string_view(" ") : text.substr(i, length);
        if (out.size() + piece.size() > maxBytes) break;
        out.append(piece);
        i += length;
    }
    return out;
}

std::optional<std::string> decodeProcessName(std::span<const std::uint8_t> bytes) {
    std::string_view raw = asChars(bytes);
    raw = raw.substr(0, raw.find('\n'));
    raw = raw.substr(0, raw.find('\0'));
    if (raw.empty()) return std::nullopt;
    return tidy(repairUtf8(raw), kMaxNameBytes);
}

std::optional<std::string> processName(std::int32_t processIdentifier) {
    const std::string path = "/proc/" + std::to_string(processIdentifier) + "/comm";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::array<std::uint8_t, 64> buffer{};
    const ssize_t length = read(fd, buffer.data(), buffer.size());
    close(fd);
    if (length <= 0) return std::nullopt;
    return decodeProcessName({buffer.data(), static_cast<std::size_t>(length)});
}

} // namespace quellan::platform
