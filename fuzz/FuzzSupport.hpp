// What the fuzz entry points share: a check that stops the run in every
// build (assert vanishes under NDEBUG), a reader for the input's header
// bytes, and a UTF-8 reader written apart from the product's so that the two
// can be held against each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quellan::fuzz {

[[noreturn]] inline void fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

#define QUELLAN_FUZZ_CHECK(condition) ((condition) ? void() : ::quellan::fuzz::fail(#condition, __FILE__, __LINE__))

/// Takes header bytes off the front of an input; past its end every byte
/// reads as 0, so short inputs still exercise everything.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> input) : input_(input) {}

    std::uint8_t byte() {
        if (input_.empty()) return 0;
        const std::uint8_t value = input_.front();
        input_ = input_.subspan(1);
        return value;
    }

    std::uint32_t word() {
        std::uint32_t value = 0;
        for (int shift = 0; shift < 32; shift += 8)
            value |= std::uint32_t{byte()} << shift;
        return value;
    }

    /// Everything not read yet.
    std::span<const std::uint8_t> rest() const { return input_; }

private:
    std::span<const std::uint8_t> input_;
};

inline std::string_view chars(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

/// The code point of the well-formed UTF-8 character at `i` (no overlong
/// form, surrogate or value past U+10FFFF) and its length; 0 when there is none.
inline std::size_t utf8CharacterAt(std::string_view text, std::size_t i, char32_t& c) {
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    if (lead < 0x80) {
        length = 1, c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return length;
}

/// How many bytes at the front of `text` are well-formed UTF-8.
inline std::size_t validUtf8Prefix(std::string_view text) {
    std::size_t i = 0;
    char32_t c = 0;
    while (i < text.size()) {
        const std::size_t length = utf8CharacterAt(text, i, c);
        if (length == 0) break;
        i += length;
    }
    return i;
}

/// The code points of `text` if it is all well-formed UTF-8, nothing otherwise.
inline std::optional<std::u32string> utf8CodePoints(std::string_view text) {
    std::u32string out;
    char32_t c = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8CharacterAt(text, i, c);
        if (length == 0) return std::nullopt;
        out.push_back(c);
        i += length;
    }
    return out;
}

inline bool isValidUtf8(std::string_view text) { return utf8CodePoints(text).has_value(); }

/// C0 controls, DEL and C1 controls.
inline bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

/// How many bytes the UTF-8 character starting with `lead` takes.
inline std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

} // namespace quellan::fuzz
