// UTF-8 decoding with U+FFFD for each maximal ill-formed subsequence.
#include "Platform/macos/Utf16.hpp"

#include <cstdint>

namespace quellan::mac {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';

struct Lead {
    int trailing = 0; // continuation bytes that follow; -1 for a byte that cannot start a sequence
    std::uint32_t bits = 0;
    // The second byte's range is narrower for some leads: it rules out
    // overlong forms, surrogates and values past U+10FFFF.
    unsigned char secondMin = 0x80;
    unsigned char secondMax = 0xBF;
};

Lead leadOf(unsigned char byte) {
    if (byte < 0x80) return {0, byte};
    if (byte < 0xC2) return {-1};
    if (byte < 0xE0) return {1, byte & 0x1Fu};
    if (byte == 0xE0) return {2, byte & 0x0Fu, 0xA0, 0xBF};
    if (byte == 0xED) return {2, byte & 0x0Fu, 0x80, 0x9F};
    if (byte < 0xF0) return {2, byte & 0x0Fu};
    if (byte == 0xF0) return {3, byte & 0x07u, 0x90, 0xBF};
    if (byte < 0xF4) return {3, byte & 0x07u};
    if (byte == 0xF4) return {3, byte & 0x07u, 0x80, 0x8F};
    return {-1};
}

void append(std::u16string& out, std::uint32_t codePoint) {
    if (codePoint < 0x10000) {
        out.push_back(static_cast<char16_t>(codePoint));
        return;
    }
    codePoint -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
}

} // namespace

std::u16string utf16FromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const Lead lead = leadOf(static_cast<unsigned char>(text[i]));
        ++i;
        if (lead.trailing < 0) {
            out.push_back(kReplacement);
            continue;
        }
        std::uint32_t codePoint = lead.bits;
        bool complete = true;
        for (int k = 0; k < lead.trailing; ++k) {
            const unsigned char min = k == 0 ? lead.secondMin : 0x80;
            const unsigned char max = k == 0 ? lead.secondMax : 0xBF;
            const auto byte = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
            if (i >= text.size() || byte < min || byte > max) {
                // The bytes so far are one maximal subpart; the one that
                // broke it off starts the next sequence.
                complete = false;
                break;
            }
            codePoint = (codePoint << 6) | (byte & 0x3Fu);
            ++i;
        }
        if (complete) {
            append(out, codePoint);
        } else {
            out.push_back(kReplacement);
        }
    }
    return out;
}

} // namespace quellan::mac
