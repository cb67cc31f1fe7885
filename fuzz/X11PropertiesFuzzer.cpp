// Every window property decoder on one property value a hostile or broken
// client could have set. The input is a four-byte header, then the value:
//
//   byte 0  format: low two bits 0, 1, 2 pick 8, 16, 32; 3 keeps the byte
//           itself, which is then no valid format
//   byte 1  type: its value modulo 9 picks STRING, UTF8_STRING, COMPOUND_TEXT,
//           CARDINAL, WINDOW, ATOM, WM_STATE, None or an atom of no meaning
//   byte 2  the item cap of the list decoders; 255 for none
//   byte 3  the byte cap of the text decoders below 128, the default above
//   rest    the value bytes
#include "FuzzSupport.hpp"
#include "Platform/x11/PropertyDecoding.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_set>
#include <vector>

namespace quellan::x11 {
namespace {

using fuzz::chars;
using fuzz::isControl;
using fuzz::isValidUtf8;
using fuzz::utf8CodePoints;
using fuzz::utf8Encode;

// Atoms a server would have interned for these names.
constexpr Atom kUtf8 = 300;
constexpr Atom kCompound = 301;
constexpr Atom kWmState = 302;
constexpr TextTypes kTypes{.utf8String = kUtf8, .compoundText = kCompound};
constexpr TextTypes kUninterned{};

constexpr Atom kTypeChoices[] = {kStringType, kUtf8, kCompound, kCardinalType, kWindowType, kAtomType, kWmState, 0};

Atom typeFor(std::uint8_t selector) {
    constexpr std::size_t count = std::size(kTypeChoices);
    if (selector % (count + 1) < count) return kTypeChoices[selector % (count + 1)];
    return 1000 + selector;
}

std::uint32_t wordAt(std::span<const std::uint8_t> bytes, std::size_t index) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + 4 * index, 4);
    return value;
}

/// The words the list decoders may look at: whole items only, up to the cap.
std::vector<std::uint32_t> visibleWords(const RawProperty& property, std::size_t maxItems) {
    std::vector<std::uint32_t> words;
    const std::size_t count = std::min(property.bytes.size() / 4, maxItems);
    for (std::size_t i = 0; i < count; ++i)
        words.push_back(wordAt(property.bytes, i));
    return words;
}

void checkNumbers(const RawProperty& property, std::size_t maxItems) {
    const bool is32 = property.format == 32;
    const std::size_t whole = property.bytes.size() / 4;
    const std::vector<std::uint32_t> words = visibleWords(property, maxItems);

    const std::vector<std::uint32_t> cardinals = decodeCardinals(property, property.type, maxItems);
    QUELLAN_FUZZ_CHECK(cardinals == (is32 ? words : std::vector<std::uint32_t>{}));
    QUELLAN_FUZZ_CHECK(decodeCardinals(property, property.type + 1, maxItems).empty());

    const auto first = [&](Atom type) -> std::optional<std::uint32_t> {
        if (!is32 || property.type != type || whole == 0) return std::nullopt;
        return wordAt(property.bytes, 0);
    };
    QUELLAN_FUZZ_CHECK(decodeCardinal(property) == first(kCardinalType));
    const auto window = first(kWindowType);
    QUELLAN_FUZZ_CHECK(decodeWindow(property) == (window == 0u ? std::nullopt : window));

    // Window lists: the visible nonzero words, each once, first occurrence first.
    const std::vector<WindowId> windows = decodeWindowList(property, maxItems);
    std::vector<WindowId> expectedWindows;
    if (is32 && property.type == kWindowType) {
        std::unordered_set<WindowId> seen;
        for (const std::uint32_t word : words)
            if (word != 0 && seen.insert(word).second) expectedWindows.push_back(word);
    }
    QUELLAN_FUZZ_CHECK(windows == expectedWindows);
    QUELLAN_FUZZ_CHECK(windows.size() <= std::min(whole, maxItems));

    std::vector<Atom> expectedAtoms;
    if (is32 && property.type == kAtomType) {
        for (const std::uint32_t word : words)
            if (word != 0) expectedAtoms.push_back(word);
    }
    QUELLAN_FUZZ_CHECK(decodeAtomList(property, maxItems) == expectedAtoms);

    std::optional<WmState> expectedState;
    if (const auto state = first(kWmState); state && (*state == 0 || *state == 1 || *state == 3)) {
        expectedState = static_cast<WmState>(*state);
    }
    QUELLAN_FUZZ_CHECK(decodeWmState(property, kWmState) == expectedState);
    // Without the WM_STATE atom there is no state to read, whatever the bytes.
    QUELLAN_FUZZ_CHECK(!decodeWmState(property, 0));
}

/// What a text decoder must produce from `raw` (one element, before any
/// cut), where that can be said without re-deriving the repair of broken
/// UTF-8 or of ISO 2022 escapes.
std::optional<std::u32string> predictedText(std::string_view raw, Atom type, const TextTypes& types) {
    std::u32string latin1(raw.begin(), raw.end());
    for (char32_t& c : latin1)
        c &= 0xFF;
    const auto utf8 = utf8CodePoints(raw);
    std::optional<std::u32string> predicted;
    if (type != 0 && type == types.utf8String) {
        predicted = utf8;
    } else if (type == kStringType) {
        predicted = latin1;
    } else if (type != 0 && type == types.compoundText) {
        // Without escapes, compound text is Latin-1 throughout.
        if (raw.find_first_of("\x1B\x9B") == std::string_view::npos) predicted = latin1;
    } else {
        predicted = utf8 ? *utf8 : latin1;
    }
    if (predicted) {
        for (char32_t& c : *predicted)
            if (isControl(c)) c = U' ';
    }
    return predicted;
}

/// The longest whole-character prefix of `text` that fits in `maxBytes`.
std::string cut(std::u32string_view text, std::size_t maxBytes) {
    std::string out;
    for (const char32_t c : text) {
        const std::string one = utf8Encode(std::u32string_view(&c, 1));
        if (out.size() + one.size() > maxBytes) break;
        out += one;
    }
    return out;
}

/// What every decoded text must be: UTF-8, within the cap, free of controls.
void checkTidy(const std::string& text, std::size_t maxBytes) {
    QUELLAN_FUZZ_CHECK(text.size() <= maxBytes);
    const auto codePoints = utf8CodePoints(text);
    QUELLAN_FUZZ_CHECK(codePoints.has_value());
    QUELLAN_FUZZ_CHECK(std::none_of(codePoints->begin(), codePoints->end(), isControl));
}

void checkText(const RawProperty& property, const TextTypes& types, std::size_t maxBytes) {
    const std::optional<std::string> text = decodeText(property, types, maxBytes);
    QUELLAN_FUZZ_CHECK(text.has_value() == (property.format == 8));
    if (!text) return;
    checkTidy(*text, maxBytes);

    // A smaller cap cuts the uncut text on a character boundary, as late as it can.
    const std::string whole = decodeText(property, types, std::numeric_limits<std::size_t>::max()).value();
    checkTidy(whole, whole.size());
    QUELLAN_FUZZ_CHECK(whole.starts_with(*text));
    QUELLAN_FUZZ_CHECK(text->size() == whole.size() ||
                       text->size() + fuzz::sequenceLength(static_cast<unsigned char>(whole[text->size()])) > maxBytes);
    if (maxBytes == kMaxTextBytes) QUELLAN_FUZZ_CHECK(decodeText(property, types) == text);

    std::string_view raw = chars(property.bytes);
    raw = raw.substr(0, raw.find('\0'));
    if (const auto predicted = predictedText(raw, property.type, types)) {
        QUELLAN_FUZZ_CHECK(whole == utf8Encode(*predicted));
    }
}

void checkClassName(const RawProperty& property, const TextTypes& types) {
    const std::optional<std::string> name = decodeClassName(property, types);
    if (property.format != 8) {
        QUELLAN_FUZZ_CHECK(!name);
        return;
    }
    const std::string_view raw = chars(property.bytes);
    const std::size_t nul = raw.find('\0');
    const std::string_view instance = raw.substr(0, nul);
    std::string_view className;
    if (nul != std::string_view::npos) {
        className = raw.substr(nul + 1);
        className = className.substr(0, className.find('\0'));
    }
    const std::string_view chosen = className.empty() ? instance : className;
    if (chosen.empty()) {
        QUELLAN_FUZZ_CHECK(!name);
        return;
    }
    if (name) {
        QUELLAN_FUZZ_CHECK(!name->empty());
        checkTidy(*name, kMaxNameBytes);
    }
    if (const auto predicted = predictedText(chosen, property.type, types)) {
        const std::string expected = cut(*predicted, kMaxNameBytes);
        QUELLAN_FUZZ_CHECK(name.value_or("") == expected);
    }
}

void checkRepair(std::string_view raw) {
    const std::string repaired = repairUtf8(raw);
    QUELLAN_FUZZ_CHECK(isValidUtf8(repaired));
    QUELLAN_FUZZ_CHECK(repairUtf8(repaired) == repaired);
    // Each bad byte becomes at most one three-byte U+FFFD; good ones stay.
    QUELLAN_FUZZ_CHECK(repaired.size() <= 3 * raw.size());
    if (isValidUtf8(raw)) QUELLAN_FUZZ_CHECK(repaired == raw);
    // A well-formed head is kept as it is, whatever follows it.
    const std::size_t head = fuzz::validUtf8Prefix(raw);
    QUELLAN_FUZZ_CHECK(repaired == std::string(raw.substr(0, head)) + repairUtf8(raw.substr(head)));
    // and what stops the head is replaced.
    if (head < raw.size()) QUELLAN_FUZZ_CHECK(repaired.compare(head, 3, "\xEF\xBF\xBD") == 0);
}

void checkProcessName(std::span<const std::uint8_t> bytes) {
    const std::optional<std::string> name = decodeProcessName(bytes);
    std::string_view line = chars(bytes);
    line = line.substr(0, line.find('\n'));
    line = line.substr(0, line.find('\0'));
    QUELLAN_FUZZ_CHECK(name.has_value() == !line.empty());
    if (!name) return;
    QUELLAN_FUZZ_CHECK(!name->empty());
    checkTidy(*name, kMaxNameBytes);
    if (const auto codePoints = utf8CodePoints(line)) {
        std::u32string tidied = *codePoints;
        for (char32_t& c : tidied)
            if (isControl(c)) c = U' ';
        QUELLAN_FUZZ_CHECK(*name == cut(tidied, kMaxNameBytes));
    }
}

} // namespace
} // namespace quellan::x11

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quellan::x11;
    quellan::fuzz::Reader reader({data, size});
    const std::uint8_t formatByte = reader.byte();
    const std::uint8_t formats[] = {8, 16, 32, formatByte};
    const std::uint8_t format = formats[formatByte & 3];
    const Atom type = typeFor(reader.byte());
    const std::uint8_t itemByte = reader.byte();
    const std::size_t maxItems = itemByte == 255 ? std::numeric_limits<std::size_t>::max() : itemByte;
    const std::uint8_t textByte = reader.byte();
    const std::size_t maxBytes = textByte < 128 ? textByte : kMaxTextBytes;

    // A copy of exactly the value bytes, so that ASan sees any read past them.
    const std::vector<std::uint8_t> value(reader.rest().begin(), reader.rest().end());
    const RawProperty property{type, format, value};

    checkNumbers(property, maxItems);
    checkText(property, kTypes, maxBytes);
    checkText(property, kUninterned, maxBytes);
    checkClassName(property, kTypes);
    checkClassName(property, kUninterned);
    checkRepair(quellan::fuzz::chars(value));
    checkProcessName(value);
    return 0;
}
