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

bool isPlainAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

/// The bytes before the first NUL: one element of a text list.
std::string_view firstElement(std::string_view raw) { return raw.substr(0, raw.find('\0')); }

void checkNumbers(const RawProperty& property, std::size_t maxItems) {
    const bool is32 = property.format == 32;
    const std::size_t visible = std::min(property.bytes.size() / 4, maxItems);
    std::unordered_set<std::uint32_t> visibleWords;
    for (std::size_t i = 0; i < visible; ++i)
        visibleWords.insert(wordAt(property.bytes, i));
    const auto isVisibleWord = [&](std::uint32_t value) { return visibleWords.contains(value); };

    // Numbers are read in place, whole items only, up to the cap.
    const std::vector<std::uint32_t> cardinals = decodeCardinals(property, property.type, maxItems);
    QUELLAN_FUZZ_CHECK(cardinals.size() == (is32 ? visible : 0));
    for (std::size_t i = 0; i < cardinals.size(); ++i)
        QUELLAN_FUZZ_CHECK(cardinals[i] == wordAt(property.bytes, i));
    QUELLAN_FUZZ_CHECK(decodeCardinals(property, property.type + 1, maxItems).empty());
    if (const auto cardinal = decodeCardinal(property)) {
        QUELLAN_FUZZ_CHECK(is32 && property.type == kCardinalType && *cardinal == wordAt(property.bytes, 0));
    }
    if (const auto window = decodeWindow(property)) {
        QUELLAN_FUZZ_CHECK(is32 && property.type == kWindowType && *window != 0);
    }

    // Lists hold no zero and, for windows, no repeat.
    const std::vector<WindowId> windows = decodeWindowList(property, maxItems);
    QUELLAN_FUZZ_CHECK(windows.empty() || (is32 && property.type == kWindowType));
    QUELLAN_FUZZ_CHECK(std::unordered_set<WindowId>(windows.begin(), windows.end()).size() == windows.size());
    QUELLAN_FUZZ_CHECK(
        std::all_of(windows.begin(), windows.end(), [&](WindowId w) { return w != 0 && isVisibleWord(w); }));
    const std::vector<Atom> atoms = decodeAtomList(property, maxItems);
    QUELLAN_FUZZ_CHECK(atoms.empty() || (is32 && property.type == kAtomType));
    QUELLAN_FUZZ_CHECK(std::all_of(atoms.begin(), atoms.end(), [&](Atom a) { return a != 0 && isVisibleWord(a); }));

    if (decodeWmState(property, kWmState)) QUELLAN_FUZZ_CHECK(is32 && property.type == kWmState);
    // Without the WM_STATE atom there is no state to read, whatever the bytes.
    QUELLAN_FUZZ_CHECK(!decodeWmState(property, 0));
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

    // Text that needs no repair comes through as it is.
    const std::string_view raw = firstElement(chars(property.bytes));
    const bool utf8Typed = property.type != 0 && property.type == types.utf8String;
    const auto codePoints = utf8CodePoints(raw);
    if ((utf8Typed && codePoints && std::none_of(codePoints->begin(), codePoints->end(), isControl)) ||
        (property.type == kStringType && isPlainAscii(raw))) {
        QUELLAN_FUZZ_CHECK(whole == raw);
    }
}

void checkClassName(const RawProperty& property, const TextTypes& types) {
    const std::optional<std::string> name = decodeClassName(property, types);
    if (property.format != 8) {
        QUELLAN_FUZZ_CHECK(!name);
        return;
    }
    if (name) {
        QUELLAN_FUZZ_CHECK(!name->empty());
        checkTidy(*name, kMaxNameBytes);
    }
    // "instance\0class\0": the class, else the instance.
    const std::string_view raw = chars(property.bytes);
    const std::string_view instance = firstElement(raw);
    const std::string_view className =
        instance.size() < raw.size() ? firstElement(raw.substr(instance.size() + 1)) : std::string_view();
    const std::string_view chosen = className.empty() ? instance : className;
    if (chosen.empty()) QUELLAN_FUZZ_CHECK(!name);
    if (!chosen.empty() && isPlainAscii(chosen) && chosen.size() <= kMaxNameBytes) {
        QUELLAN_FUZZ_CHECK(name == chosen);
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
    std::string_view line = firstElement(chars(bytes));
    line = line.substr(0, line.find('\n'));
    QUELLAN_FUZZ_CHECK(name.has_value() == !line.empty());
    if (!name) return;
    QUELLAN_FUZZ_CHECK(!name->empty());
    checkTidy(*name, kMaxNameBytes);
    if (isPlainAscii(line)) QUELLAN_FUZZ_CHECK(*name == line.substr(0, kMaxNameBytes));
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
