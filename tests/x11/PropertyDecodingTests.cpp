// Exact results of the property decoders; the fuzzers check what must hold
// for any bytes.
#include "Platform/x11/PropertyDecoding.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace quellan::x11 {
namespace {

constexpr Atom kUtf8 = 300;
constexpr Atom kCompound = 301;
const TextTypes kTypes{.utf8String = kUtf8, .compoundText = kCompound};

std::vector<std::uint8_t> bytesOf(const std::vector<std::uint32_t>& items) {
    std::vector<std::uint8_t> bytes(items.size() * 4);
    if (!items.empty()) std::memcpy(bytes.data(), items.data(), bytes.size());
    return bytes;
}

TEST(PropertyDecoding, TitlesInEveryEncodingBecomeTidyUtf8) {
    struct Case {
        Atom type;
        std::string bytes;
        std::size_t cap;
        std::string expected;
    };
    const Case cases[] = {
        {kUtf8,
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         kMaxTextBytes,
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {kUtf8, "bad\xFF\xFEtitle", kMaxTextBytes, "bad\xEF\xBF\xBD\xEF\xBF\xBDtitle"},
        {kUtf8, std::string("cut\0rest", 8), kMaxTextBytes, "cut"},
        {kUtf8,
         "a\tb\x7F"
         "c",
         kMaxTextBytes, "a b c"},
        {kStringType, "Caf\xE9", kMaxTextBytes, "Caf\xC3\xA9"},
        {999, "Caf\xC3\xA9", kMaxTextBytes, "Caf\xC3\xA9"}, // unknown type: UTF-8 when valid,
        {999, "Caf\xE9", kMaxTextBytes, "Caf\xC3\xA9"},     // Latin-1 otherwise
        {kCompound, "\x1B-Ar\xE9sum\xE9", kMaxTextBytes, "r\xC3\xA9sum\xC3\xA9"},
        {kCompound, "a\x1B%G\xE2\x82\xAC\x1B%@b", kMaxTextBytes,
         "a\xE2\x82\xAC"
         "b"},
        {kCompound, "\x1B$(B\x30\x21\x30\x22\x1B(Bok", kMaxTextBytes, "\xEF\xBF\xBD\xEF\xBF\xBDok"},
        {kCompound, "ab\x1B(", kMaxTextBytes, "ab"},
        // A cut falls between characters; a control character counts as its space.
        {kUtf8, "ab\xE2\x82\xAC", 4, "ab"},
        {kStringType, "ab\x85", 3, "ab "},
        {kUtf8, "ab\xC2\x85\xC2\x9Fz", 4, "ab  "},
    };
    for (const Case& c : cases) {
        const RawProperty raw{c.type, 8, {reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()}};
        EXPECT_EQ(decodeText(raw, kTypes, c.cap), c.expected) << c.bytes;
    }
    const auto className = [](std::string_view value) {
        return decodeClassName({kStringType, 8, {reinterpret_cast<const std::uint8_t*>(value.data()), value.size()}},
                               kTypes);
    };
    EXPECT_EQ(className(std::string_view("xterm\0XTerm\0", 12)), "XTerm");
    EXPECT_EQ(className(std::string_view("xterm\0\0", 7)), "xterm");
    EXPECT_EQ(className(std::string_view("\0\0", 2)), std::nullopt);
}

TEST(PropertyDecoding, NumbersListsAndClientPids) {
    const auto windows = bytesOf({5, 0, 7, 5, 9});
    EXPECT_EQ(decodeWindowList({kWindowType, 32, windows}, 100), (std::vector<WindowId>{5, 7, 9}));
    EXPECT_EQ(decodeWindowList({kWindowType, 32, windows}, 1), (std::vector<WindowId>{5}));
    EXPECT_EQ(decodeCardinal({kWindowType, 32, windows}), std::nullopt) << "wrong type";
    EXPECT_EQ(decodeCardinal({kCardinalType, 32, {windows.data(), 3}}), std::nullopt) << "not a whole item";
    EXPECT_EQ(decodeWmState({302, 32, bytesOf({3, 0})}, 302), WmState::iconic);

    // X-Resource entries: client, mask, length in bytes, value.
    EXPECT_EQ(decodeClientPid(bytesOf({0x400000, 1, 4, 0x99, 0x400000, 2, 4, 1234}), 2), 1234);
    for (const auto& entry : {bytesOf({1, 2, 400, 1234}), bytesOf({1, 2, 3, 1234}), bytesOf({1, 2, 4, 0})})
        EXPECT_EQ(decodeClientPid(entry, 1), std::nullopt);
}

TEST(PropertyDecoding, MachinesOrderAndKinds) {
    for (const auto& [machine, host] : {std::pair{"BOX", "box"}, {"box.example.org", "box"}, {"localhost", "box"}})
        EXPECT_TRUE(isLocalMachine(machine, host)) << machine;
    for (const auto& [machine, host] : {std::pair{"boxer", "box"}, {"box.other.org", "box.example.org"}, {"", "box"}})
        EXPECT_FALSE(isLocalMachine(machine, host)) << machine;

    using List = std::vector<WindowId>;
    // Stacking is bottom to top and decides; without it, newest mapped first.
    EXPECT_EQ(clientsFrontToBack(List{1, 2, 3}, List{2, 3, 1}), (List{1, 3, 2}));
    EXPECT_EQ(clientsFrontToBack(List{1, 2, 3}, std::nullopt), (List{3, 2, 1}));
    EXPECT_EQ(clientsFrontToBack(List{1, 2, 4}, List{9, 2, 1}), (List{1, 2, 4}));

    const WindowTypeAtoms atoms{.normal = 1, .dialog = 2, .utility = 3, .splash = 6, .dock = 7};
    struct Case {
        std::vector<Atom> types;
        std::optional<WindowId> transientFor;
        bool skipTaskbar, modal;
        WindowKind expected;
    };
    const Case cases[] = {
        {{}, {}, false, false, WindowKind::standard},     {{1}, 60, false, false, WindowKind::dialog},
        {{}, 50, false, false, WindowKind::standard},     {{1}, {}, false, true, WindowKind::dialog},
        {{1}, {}, true, false, WindowKind::auxiliary},    {{3}, {}, false, false, WindowKind::floating},
        {{6}, {}, false, false, WindowKind::auxiliary},   {{7, 1}, {}, false, false, WindowKind::desktopPart},
        {{777, 2}, {}, false, false, WindowKind::dialog},
    };
    for (const Case& c : cases)
        EXPECT_EQ(classifyWindow(c.types, c.transientFor, 50, c.skipTaskbar, c.modal, atoms), c.expected) << &c - cases;
}

} // namespace
} // namespace quellan::x11
