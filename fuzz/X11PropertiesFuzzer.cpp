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

using namespace quellan::x11;
using quellan::fuzz::utf8CodePoints;

// Atoms a server would have interned for these names.
constexpr Atom kUtf8 = 300, kCompound = 301, kWmState = 302;

/// Lists hold only whole items from the front of the value, up to the cap.
static void checkLists(const RawProperty& property, std::size_t maxItems) {
    std::unordered_set<std::uint32_t> items;
    for (std::size_t i = 0; i < std::min(property.bytes.size() / 4, maxItems); ++i) {
        std::uint32_t item = 0;
        std::memcpy(&item, property.bytes.data() + 4 * i, 4);
        items.insert(item);
    }
    for (const auto& list : {decodeCardinals(property, property.type, maxItems), decodeWindowList(property, maxItems),
                             decodeAtomList(property, maxItems)}) {
        QUELLAN_FUZZ_CHECK(list.size() <= maxItems);
        QUELLAN_FUZZ_CHECK(std::all_of(list.begin(), list.end(), [&](std::uint32_t v) { return items.contains(v); }));
    }
    // The rest only have to stay within the bytes.
    decodeCardinal(property), decodeWindow(property), decodeWmState(property, kWmState);
}

/// What every decoded text must be: well-formed UTF-8 without controls, within its cap.
static void checkTidy(const std::string& text, std::size_t maxBytes) {
    const auto points = utf8CodePoints(text);
    QUELLAN_FUZZ_CHECK(text.size() <= maxBytes && points &&
                       std::none_of(points->begin(), points->end(), quellan::fuzz::isControl));
}

static void checkText(const RawProperty& property, const TextTypes& types, std::size_t maxBytes) {
    const std::optional<std::string> text = decodeText(property, types, maxBytes);
    if (!text) return;
    const std::string whole = decodeText(property, types, std::numeric_limits<std::size_t>::max()).value();
    checkTidy(*text, maxBytes);
    checkTidy(whole, whole.size());
    // A cap cuts the uncut text as late as it can: the next character would not fit.
    QUELLAN_FUZZ_CHECK(whole.starts_with(*text));
    if (text->size() < whole.size()) {
        const auto lead = static_cast<unsigned char>(whole[text->size()]);
        QUELLAN_FUZZ_CHECK(text->size() + (lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4) > maxBytes);
    }
    // Text that needs no repair comes through as it is, but for controls made
    // spaces: valid UTF8_STRING, and STRING as Latin-1, a character a byte.
    std::string_view raw = quellan::fuzz::chars(property.bytes.data(), property.bytes.size());
    raw = raw.substr(0, raw.find('\0'));
    std::optional<std::u32string> expected;
    if (property.type == kStringType) expected.emplace(property.bytes.begin(), property.bytes.begin() + raw.size());
    if (property.type == types.utf8String && property.type != 0) expected = utf8CodePoints(raw);
    if (!expected) return;
    std::replace_if(expected->begin(), expected->end(), quellan::fuzz::isControl, U' ');
    QUELLAN_FUZZ_CHECK(utf8CodePoints(whole) == expected);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto header = [&](std::size_t i) -> std::uint8_t { return i < size ? data[i] : 0; };
    const std::uint8_t formats[] = {8, 16, 32, header(0)};
    constexpr Atom kTypes[] = {kStringType, kUtf8, kCompound, kCardinalType, kWindowType, kAtomType, kWmState, 0};
    const Atom type = header(1) % 9 < 8 ? kTypes[header(1) % 9] : 1000 + header(1);
    const std::size_t maxItems = header(2) == 255 ? std::numeric_limits<std::size_t>::max() : header(2);
    const std::size_t maxBytes = header(3) < 128 ? header(3) : kMaxTextBytes;
    // A copy of exactly the value bytes, so that ASan sees any read past them.
    const std::vector<std::uint8_t> value(data + std::min<std::size_t>(size, 4), data + size);
    const RawProperty property{type, formats[header(0) & 3], value};

    checkLists(property, maxItems);
    for (const TextTypes& types : {TextTypes{kUtf8, kCompound}, TextTypes{}}) {
        checkText(property, types, maxBytes);
        if (const auto name = decodeClassName(property, types)) checkTidy(*name, kMaxNameBytes);
    }
    if (const auto name = decodeProcessName(value)) checkTidy(*name, kMaxNameBytes);
    const std::string_view raw = quellan::fuzz::chars(value.data(), value.size());
    const std::string repaired = repairUtf8(raw);
    QUELLAN_FUZZ_CHECK(utf8CodePoints(repaired) && repairUtf8(repaired) == repaired);
    if (utf8CodePoints(raw)) QUELLAN_FUZZ_CHECK(repaired == raw);
    return 0;
}
