// The property decoders on well-formed, odd and hostile bytes.
#include "Platform/x11/PropertyDecoding.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace quellan::x11 {
namespace {

constexpr Atom kUtf8 = 300;
constexpr Atom kCompound = 301;
constexpr Atom kWmState = 302;
const TextTypes kTypes{.utf8String = kUtf8, .compoundText = kCompound};

/// Owns the bytes a RawProperty points at.
struct Bytes {
    std::vector<std::uint8_t> data;
    Atom type = 0;
    std::uint8_t format = 0;
    RawProperty raw() const { return RawProperty{type, format, data}; }
};

Bytes words(Atom type, std::vector<std::uint32_t> items) {
    Bytes bytes{std::vector<std::uint8_t>(items.size() * 4), type, 32};
    if (!items.empty()) std::memcpy(bytes.data.data(), items.data(), bytes.data.size());
    return bytes;
}

Bytes text(Atom type, std::string_view value) {
    return Bytes{std::vector<std::uint8_t>(value.begin(), value.end()), type, 8};
}

std::string decoded(Atom type, std::string_view value) { return decodeText(text(type, value).raw(), kTypes).value(); }

TEST(PropertyDecoding, NumbersNeedTheirTypeAndFormat) {
    EXPECT_EQ(decodeCardinal(words(kCardinalType, {4242, 7}).raw()), 4242u);
    EXPECT_EQ(decodeCardinal(words(kWindowType, {4242}).raw()), std::nullopt);
    EXPECT_EQ(decodeCardinal(words(kCardinalType, {}).raw()), std::nullopt);
    Bytes sixteen = words(kCardinalType, {4242});
    sixteen.format = 16;
    EXPECT_EQ(decodeCardinal(sixteen.raw()), std::nullopt);
    // Three bytes cannot hold an item.
    Bytes cut = words(kCardinalType, {4242});
    cut.data.resize(3);
    EXPECT_EQ(decodeCardinal(cut.raw()), std::nullopt);

    EXPECT_EQ(decodeWindow(words(kWindowType, {0x400001}).raw()), 0x400001u);
    EXPECT_EQ(decodeWindow(words(kWindowType, {0}).raw()), std::nullopt);
}

TEST(PropertyDecoding, WindowListsDropNoneAndRepeatsAndStopAtTheCap) {
    EXPECT_EQ(decodeWindowList(words(kWindowType, {5, 0, 7, 5, 9, 7}).raw(), 100), (std::vector<WindowId>{5, 7, 9}));
    EXPECT_EQ(decodeWindowList(words(kWindowType, {1, 2, 3, 4}).raw(), 2), (std::vector<WindowId>{1, 2}));
    EXPECT_TRUE(decodeWindowList(words(kAtomType, {1, 2}).raw(), 100).empty());

    // A trailing partial item is ignored, not read past.
    Bytes ragged = words(kWindowType, {11, 12});
    ragged.data.push_back(0xFF);
    EXPECT_EQ(decodeWindowList(ragged.raw(), 100), (std::vector<WindowId>{11, 12}));

    std::vector<std::uint32_t> many(100'000);
    for (std::uint32_t i = 0; i < many.size(); ++i)
        many[i] = i + 1;
    EXPECT_EQ(decodeWindowList(words(kWindowType, many).raw(), 1u << 16).size(), 1u << 16);
}

TEST(PropertyDecoding, AtomListsAndWmState) {
    EXPECT_EQ(decodeAtomList(words(kAtomType, {40, 0, 41}).raw(), 64), (std::vector<Atom>{40, 41}));
    EXPECT_TRUE(decodeAtomList(words(kCardinalType, {40}).raw(), 64).empty());

    EXPECT_EQ(decodeWmState(words(kWmState, {3, 0}).raw(), kWmState), WmState::iconic);
    EXPECT_EQ(decodeWmState(words(kWmState, {1, 0}).raw(), kWmState), WmState::normal);
    EXPECT_EQ(decodeWmState(words(kWmState, {0}).raw(), kWmState), WmState::withdrawn);
    EXPECT_EQ(decodeWmState(words(kWmState, {2}).raw(), kWmState), std::nullopt);
    EXPECT_EQ(decodeWmState(words(kCardinalType, {3}).raw(), kWmState), std::nullopt);
    EXPECT_EQ(decodeWmState(words(0, {3}).raw(), 0), std::nullopt);
}

TEST(PropertyDecoding, Utf8TitlesAreRepaired) {
    EXPECT_EQ(decoded(kUtf8, "Caf\xC3\xA9 \xF0\x9F\x98\x80"), "Caf\xC3\xA9 \xF0\x9F\x98\x80");
    // A lone continuation byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF.
    EXPECT_EQ(decoded(kUtf8, "a\x80z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(decoded(kUtf8, "a\xE2\x82"), "a\xEF\xBF\xBD");
    EXPECT_EQ(decoded(kUtf8, "\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(decoded(kUtf8, "\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(decoded(kUtf8, "\xF4\x90\x80\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    // One replacement per maximal invalid subpart.
    EXPECT_EQ(repairUtf8("\xF0\x9F\x98x"), "\xEF\xBF\xBDx");
}

TEST(PropertyDecoding, TitlesStopAtNulAndLoseControlCharacters) {
    EXPECT_EQ(decoded(kUtf8, std::string_view("first\0second", 12)), "first");
    EXPECT_EQ(decoded(kUtf8, "line\nbreak\ttab\x7F"), "line break tab ");
    EXPECT_EQ(decoded(kUtf8, "c1\xC2\x85here"), "c1 here");
    EXPECT_EQ(decoded(kUtf8, ""), "");
    // Absent, not empty, when the format is wrong.
    Bytes wide = text(kUtf8, "abcd");
    wide.format = 32;
    EXPECT_EQ(decodeText(wide.raw(), kTypes), std::nullopt);
}

TEST(PropertyDecoding, Latin1AndUnknownTypes) {
    EXPECT_EQ(decoded(kStringType, "Caf\xE9"), "Caf\xC3\xA9");
    EXPECT_EQ(decoded(kStringType, "\xFF"), "\xC3\xBF");
    // An unknown type: UTF-8 when it is valid, Latin-1 otherwise.
    EXPECT_EQ(decoded(999, "Caf\xC3\xA9"), "Caf\xC3\xA9");
    EXPECT_EQ(decoded(999, "Caf\xE9"), "Caf\xC3\xA9");
}

TEST(PropertyDecoding, CompoundTextConvertsLatin1AndUtf8Segments) {
    EXPECT_EQ(decoded(kCompound, "plain"), "plain");
    // GR starts as the Latin-1 right half.
    EXPECT_EQ(decoded(kCompound, "Caf\xE9"), "Caf\xC3\xA9");
    EXPECT_EQ(decoded(kCompound, "\x1B-Ar\xE9sum\xE9"), "r\xC3\xA9sum\xC3\xA9");
    EXPECT_EQ(decoded(kCompound, "a\x1B%G\xE2\x82\xAC\x1B%@b"), "a\xE2\x82\xAC"
                                                                "b");
    // An unfinished UTF-8 segment still converts, repaired.
    EXPECT_EQ(decoded(kCompound, "\x1B%G\xE2\x82"), "\xEF\xBF\xBD");
    // A two-byte set (JIS X 0208 in GL) cannot be read: one U+FFFD per character.
    EXPECT_EQ(decoded(kCompound, "\x1B$(B\x30\x21\x30\x22\x1B(Bok"), "\xEF\xBF\xBD\xEF\xBF\xBDok");
    // Another 96-set in GR: unknown characters.
    EXPECT_EQ(decoded(kCompound, "\x1B-B\xE9"), "\xEF\xBF\xBD");
    // An escape cut short ends the text; direction sequences vanish.
    EXPECT_EQ(decoded(kCompound, "ab\x1B("), "ab");
    EXPECT_EQ(decoded(kCompound, "\x9B"
                                 "1]x\x9B]"),
              "x");
    // An extended segment is skipped by its length.
    EXPECT_EQ(decoded(kCompound, std::string("\x1B%/1\x80\x83"
                                             "abcz",
                                             10)),
              "\xEF\xBF\xBDz");
}

TEST(PropertyDecoding, ClassNamesPreferTheClassPart) {
    const auto name = [](std::string_view value, Atom type = kStringType) {
        return decodeClassName(text(type, value).raw(), kTypes);
    };
    EXPECT_EQ(name(std::string_view("xterm\0XTerm\0", 12)), "XTerm");
    EXPECT_EQ(name(std::string_view("xterm\0\0", 7)), "xterm");
    EXPECT_EQ(name("xterm"), "xterm");
    EXPECT_EQ(name(std::string_view("\0\0", 2)), std::nullopt);
    EXPECT_EQ(name(std::string_view("a\0Caf\xE9", 6)), "Caf\xC3\xA9");
    EXPECT_EQ(name(std::string(1000, 'n')).value().size(), kMaxNameBytes);
}

TEST(PropertyDecoding, ProcessNames) {
    const auto name = [](std::string_view value) {
        return decodeProcessName({reinterpret_cast<const std::uint8_t*>(value.data()), value.size()});
    };
    EXPECT_EQ(name("xterm\n"), "xterm");
    EXPECT_EQ(name("odd\xFFname\n"), "odd\xEF\xBF\xBDname");
    EXPECT_EQ(name("\n"), std::nullopt);
    EXPECT_EQ(name(""), std::nullopt);
}

std::vector<std::uint8_t> clientIds(std::vector<std::vector<std::uint32_t>> entries) {
    std::vector<std::uint32_t> items;
    for (const auto& entry : entries)
        items.insert(items.end(), entry.begin(), entry.end());
    std::vector<std::uint8_t> bytes(items.size() * 4);
    if (!items.empty()) std::memcpy(bytes.data(), items.data(), bytes.size());
    return bytes;
}

TEST(PropertyDecoding, ClientPidsFromResourceReplies) {
    // Entries: client, mask, length in bytes, value.
    const auto ids = clientIds({{0x400000, 1, 4, 0x99}, {0x400000, 2, 4, 1234}});
    EXPECT_EQ(decodeClientPid(ids, 2), 1234);
    EXPECT_EQ(decodeClientPid(ids, 1), std::nullopt);
    // A count larger than the data, a length past the end, a ragged length, pid 0.
    EXPECT_EQ(decodeClientPid(ids, 50), 1234);
    EXPECT_EQ(decodeClientPid(clientIds({{1, 2, 400, 1234}}), 1), std::nullopt);
    EXPECT_EQ(decodeClientPid(clientIds({{1, 2, 3, 1234}}), 1), std::nullopt);
    EXPECT_EQ(decodeClientPid(clientIds({{1, 2, 4, 0}}), 1), std::nullopt);
    EXPECT_EQ(decodeClientPid(clientIds({{1, 2, 4, 0x80000000u}}), 1), std::nullopt);
    EXPECT_EQ(decodeClientPid({}, 3), std::nullopt);
}

TEST(PropertyDecoding, LocalMachines) {
    EXPECT_TRUE(isLocalMachine("box", "box"));
    EXPECT_TRUE(isLocalMachine("BOX", "box"));
    EXPECT_TRUE(isLocalMachine("box.example.org", "box"));
    EXPECT_TRUE(isLocalMachine("box", "box.example.org"));
    EXPECT_TRUE(isLocalMachine("localhost", "box"));
    EXPECT_FALSE(isLocalMachine("boxer", "box"));
    EXPECT_FALSE(isLocalMachine("box.other.org", "box.example.org"));
    EXPECT_FALSE(isLocalMachine("other", "box"));
    EXPECT_FALSE(isLocalMachine("", "box"));
}

TEST(PropertyDecoding, ClientOrderFrontToBack) {
    using List = std::vector<WindowId>;
    // Stacking is bottom to top.
    EXPECT_EQ(clientsFrontToBack(List{1, 2, 3}, List{2, 3, 1}), (List{1, 3, 2}));
    // Only stacking known; only the mapping order known (newest first).
    EXPECT_EQ(clientsFrontToBack(std::nullopt, List{2, 3, 1}), (List{1, 3, 2}));
    EXPECT_EQ(clientsFrontToBack(List{1, 2, 3}, std::nullopt), (List{3, 2, 1}));
    // Lists that disagree: the client list decides who is managed.
    EXPECT_EQ(clientsFrontToBack(List{1, 2, 4}, List{9, 2, 1}), (List{1, 2, 4}));
    EXPECT_TRUE(clientsFrontToBack(std::nullopt, std::nullopt).empty());
}

TEST(PropertyDecoding, WindowKinds) {
    const WindowTypeAtoms atoms{.normal = 1,
                                .dialog = 2,
                                .utility = 3,
                                .toolbar = 4,
                                .menu = 5,
                                .splash = 6,
                                .dock = 7,
                                .desktop = 8,
                                .dropdownMenu = 9,
                                .popupMenu = 10,
                                .tooltip = 11,
                                .notification = 12,
                                .combo = 13,
                                .dnd = 14};
    const auto kind = [&](std::vector<Atom> types, std::optional<WindowId> transientFor = std::nullopt,
                          bool skipTaskbar = false, bool modal = false) {
        return classifyWindow(types, transientFor, 50, skipTaskbar, modal, atoms);
    };
    EXPECT_EQ(kind({}), WindowKind::standard); // no type means normal
    EXPECT_EQ(kind({1}), WindowKind::standard);
    EXPECT_EQ(kind({2}), WindowKind::dialog);
    EXPECT_EQ(kind({}, 60), WindowKind::dialog);
    EXPECT_EQ(kind({1}, 60), WindowKind::dialog);
    EXPECT_EQ(kind({}, 50), WindowKind::standard); // transient for itself means nothing
    EXPECT_EQ(kind({1}, std::nullopt, false, true), WindowKind::dialog);
    EXPECT_EQ(kind({1}, std::nullopt, true), WindowKind::auxiliary);
    EXPECT_EQ(kind({3}), WindowKind::floating);
    EXPECT_EQ(kind({4}, 60), WindowKind::floating);
    EXPECT_EQ(kind({6}), WindowKind::auxiliary);
    EXPECT_EQ(kind({7}), WindowKind::desktopPart);
    EXPECT_EQ(kind({8}), WindowKind::desktopPart);
    EXPECT_EQ(kind({11}), WindowKind::desktopPart);
    // Unknown types give way to the next known one, or to normal.
    EXPECT_EQ(kind({777, 2}), WindowKind::dialog);
    EXPECT_EQ(kind({777}), WindowKind::standard);
    EXPECT_EQ(kind({7, 1}), WindowKind::desktopPart);
}

TEST(PropertyDecoding, ControlCharactersCountAsTheSpaceThatReplacesThem) {
    EXPECT_EQ(decodeText(text(kStringType, "ab\x85").raw(), kTypes, 3), "ab ");
    EXPECT_EQ(decodeText(text(kUtf8, "ab\xC2\x85\xC2\x9Fz").raw(), kTypes, 4), "ab  ");
    // The fuzzer's input: an uninterned UTF8_STRING, so not UTF-8 but Latin-1.
    const std::string bytes = "ab\xF0\x9F\x98\x60"
                              "cd";
    EXPECT_EQ(decodeText(text(kUtf8, bytes).raw(), TextTypes{}, 6), "ab\xC3\xB0  ");
    EXPECT_EQ(decodeText(text(kUtf8, bytes).raw(), TextTypes{}, 7), "ab\xC3\xB0  `");
}

} // namespace
} // namespace quellan::x11
