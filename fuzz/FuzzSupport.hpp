// What the fuzz entry points share: a check that stops the run in every
// build (assert vanishes under NDEBUG), and a UTF-8 reader written apart
// from the product's, to hold the two against each other.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace quellan::fuzz {

[[noreturn]] inline void fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

#define QUELLAN_FUZZ_CHECK(condition) ((condition) ? void() : ::quellan::fuzz::fail(#condition, __FILE__, __LINE__))

inline std::string_view chars(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

/// The code points of `text` if it is all well-formed UTF-8 (no overlong
/// form, surrogate or value past U+10FFFF), nothing otherwise.
inline std::optional<std::u32string> utf8CodePoints(std::string_view text) {
    // By length: the bits the lead byte holds, the smallest code point.
    static constexpr char32_t kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07}, kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        // A lead byte's leading ones count its sequence's bytes; one alone marks a continuation byte.
        const auto ones = static_cast<std::size_t>(std::countl_one(lead));
        const std::size_t length = ones == 0 ? 1 : ones >= 2 && ones <= 4 ? ones : 0;
        if (length == 0 || text.size() - i < length) return std::nullopt;
        char32_t c = lead & kLeadBits[length];
        for (std::size_t k = 1; k < length; ++k) {
            if ((text[i + k] & 0xC0) != 0x80) return std::nullopt;
            c = (c << 6) | (text[i + k] & 0x3F);
        }
        if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        out.push_back(c);
        i += length;
    }
    return out;
}

/// C0 controls, DEL and C1 controls.
inline bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

} // namespace quellan::fuzz
