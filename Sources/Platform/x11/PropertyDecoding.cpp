#include "Platform/x11/PropertyDecoding.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_set>

namespace quellan::x11 {
namespace {

using platform::appendCodePoint;
using platform::isValidUtf8;
using platform::tidy;
constexpr char32_t kReplacement = platform::kReplacementCharacter;

std::uint32_t readCard32(const std::uint8_t* data) {
    // Format-32 items arrive in our own byte order, possibly unaligned.
    std::uint32_t value = 0;
    std::memcpy(&value, data, sizeof value);
    return value;
}

std::size_t itemCount32(const RawProperty& property) { return property.bytes.size() / 4; }

std::string latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text)
        appendCodePoint(out, static_cast<unsigned char>(c));
    return out;
}

/// COMPOUND_TEXT to UTF-8: ISO 2022 with Latin-1 as the initial sets. The
/// Latin-1 and UTF-8 segments convert; characters of other sets become U+FFFD.
std::string compoundTextToUtf8(std::string_view text) {
    enum class Set { ascii, latin1High, unknown };
    Set gl = Set::ascii;
    Set gr = Set::latin1High;
    std::size_t glWidth = 1, grWidth = 1;
    std::string out;
    std::string utf8Segment;
    bool inUtf8 = false;
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };

    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = at(i);
        if (inUtf8) {
            // A UTF-8 segment runs until ESC % @.
            if (c == 0x1B && i + 2 < text.size() && at(i + 1) == '%' && at(i + 2) == '@') {
                out += repairUtf8(utf8Segment);
                utf8Segment.clear();
                inUtf8 = false;
                i += 3;
            } else {
                utf8Segment.push_back(static_cast<char>(c));
                ++i;
            }
            continue;
        }
        if (c == 0x1B) {
            // ESC, intermediates 0x20-0x2F, a final 0x30-0x7E.
            std::size_t j = i + 1;
            while (j < text.size() && at(j) >= 0x20 && at(j) <= 0x2F)
                ++j;
            if (j >= text.size() || at(j) < 0x30 || at(j) > 0x7E) break; // cut short: stop here
            const std::string_view intermediates = text.substr(i + 1, j - i - 1);
            const unsigned char final = at(j);
            i = j + 1;
            if (intermediates == "%" && final == 'G') {
                inUtf8 = true;
            } else if (intermediates == "%/" && final >= '0' && final <= '4') {
                // Extended segment: two length bytes, then that many bytes we cannot read.
                if (i + 1 >= text.size()) break;
                const std::size_t length = (std::size_t{at(i)} & 0x7F) * 128 + (at(i + 1) & 0x7F);
                i = std::min(text.size(), i + 2 + length);
                appendCodePoint(out, kReplacement);
            } else if (intermediates == "(") {
                gl = (final == 'B' || final == 'J') ? Set::ascii : Set::unknown;
                glWidth = 1;
            } else if (intermediates == "-") {
                gr = final == 'A' ? Set::latin1High : Set::unknown;
                grWidth = 1;
            } else if (intermediates == ")") {
                gr = Set::unknown;
                grWidth = 1;
            } else if (intermediates == "$(" || intermediates == "$)" || intermediates == "$") {
                (intermediates == "$)" ? gr : gl) = Set::unknown;
                (intermediates == "$)" ? grWidth : glWidth) = 2;
            }
            continue;
        }
        if (c == 0x9B) { // CSI direction sequences: skip to the final byte
            ++i;
            while (i < text.size() && !(at(i) >= 0x40 && at(i) <= 0x7E))
                ++i;
            ++i;
            continue;
        }
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            out.push_back(' ');
            ++i;
            continue;
        }
        const bool left = c < 0x80;
        const Set set = left ? gl : gr;
        const std::size_t width = left ? glWidth : grWidth;
        if (set == Set::ascii) {
            out.push_back(static_cast<char>(c));
        } else if (set == Set::latin1High) {
            appendCodePoint(out, c);
        } else {
            appendCodePoint(out, kReplacement);
        }
        i += width;
    }
    if (inUtf8) out += repairUtf8(utf8Segment);
    return out;
}

std::string_view asChars(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string convertText(std::string_view raw, Atom type, const TextTypes& types) {
    if (type == types.utf8String && type != 0) return repairUtf8(raw);
    if (type == kStringType) return latin1ToUtf8(raw);
    if (type == types.compoundText && type != 0) return compoundTextToUtf8(raw);
    return isValidUtf8(raw) ? std::string(raw) : latin1ToUtf8(raw);
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

} // namespace

std::vector<std::uint32_t> decodeCardinals(const RawProperty& property, Atom type, std::size_t maxItems) {
    std::vector<std::uint32_t> items;
    if (property.format != 32 || property.type != type) return items;
    const std::size_t count = std::min(itemCount32(property), maxItems);
    items.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        items.push_back(readCard32(property.bytes.data() + 4 * i));
    return items;
}

std::optional<std::uint32_t> decodeCardinal(const RawProperty& property) {
    const auto items = decodeCardinals(property, kCardinalType, 1);
    if (items.empty()) return std::nullopt;
    return items.front();
}

std::optional<WindowId> decodeWindow(const RawProperty& property) {
    const auto items = decodeCardinals(property, kWindowType, 1);
    if (items.empty() || items.front() == 0) return std::nullopt;
    return items.front();
}

std::vector<WindowId> decodeWindowList(const RawProperty& property, std::size_t maxItems) {
    std::vector<WindowId> windows = decodeCardinals(property, kWindowType, maxItems);
    std::unordered_set<WindowId> seen;
    seen.reserve(windows.size());
    std::erase_if(windows, [&](WindowId id) { return id == 0 || !seen.insert(id).second; });
    return windows;
}

std::vector<Atom> decodeAtomList(const RawProperty& property, std::size_t maxItems) {
    std::vector<Atom> atoms = decodeCardinals(property, kAtomType, maxItems);
    std::erase(atoms, Atom{0});
    return atoms;
}

std::optional<WmState> decodeWmState(const RawProperty& property, Atom wmStateType) {
    if (wmStateType == 0) return std::nullopt;
    const auto items = decodeCardinals(property, wmStateType, 1);
    if (items.empty()) return std::nullopt;
    switch (items.front()) {
    case 0:
        return WmState::withdrawn;
    case 1:
        return WmState::normal;
    case 3:
        return WmState::iconic;
    default:
        return std::nullopt;
    }
}

std::optional<std::string> decodeText(const RawProperty& property, const TextTypes& types, std::size_t maxBytes) {
    if (property.format != 8) return std::nullopt;
    std::string_view raw = asChars(property.bytes);
    // Text properties may hold NUL-separated lists; the first element is the text.
    if (const auto nul = raw.find('\0'); nul != std::string_view::npos) raw = raw.substr(0, nul);
    return tidy(convertText(raw, property.type, types), maxBytes);
}

std::optional<std::string> decodeClassName(const RawProperty& property, const TextTypes& types) {
    if (property.format != 8) return std::nullopt;
    const std::string_view raw = asChars(property.bytes);
    const auto nul = raw.find('\0');
    const std::string_view instance = raw.substr(0, nul);
    std::string_view className;
    if (nul != std::string_view::npos) {
        className = raw.substr(nul + 1);
        className = className.substr(0, className.find('\0'));
    }
    const std::string_view chosen = className.empty() ? instance : className;
    if (chosen.empty()) return std::nullopt;
    std::string name = tidy(convertText(chosen, property.type, types), kMaxNameBytes);
    if (name.empty()) return std::nullopt;
    return name;
}

std::optional<std::int32_t> decodeClientPid(std::span<const std::uint8_t> bytes, std::uint32_t count) {
    constexpr std::uint32_t kLocalClientPidMask = 2;
    std::size_t offset = 0;
    for (std::uint32_t n = 0; n < count; ++n) {
        // Each entry: client, mask, value length in bytes, then the value.
        if (bytes.size() - offset < 12) return std::nullopt;
        const std::uint32_t mask = readCard32(bytes.data() + offset + 4);
        const std::uint32_t length = readCard32(bytes.data() + offset + 8);
        offset += 12;
        if (length % 4 != 0 || length > bytes.size() - offset) return std::nullopt;
        if (mask == kLocalClientPidMask && length >= 4) {
            const std::uint32_t pid = readCard32(bytes.data() + offset);
            if (pid == 0 || pid > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
                return std::nullopt;
            }
            return static_cast<std::int32_t>(pid);
        }
        offset += length;
    }
    return std::nullopt;
}

bool isLocalMachine(std::string_view machine, std::string_view hostname) {
    if (equalIgnoringCase(machine, "localhost")) return true;
    if (machine.empty() || hostname.empty()) return false;
    if (equalIgnoringCase(machine, hostname)) return true;
    const auto shortForm = [](std::string_view longer, std::string_view shorter) {
        return longer.size() > shorter.size() && longer[shorter.size()] == '.' &&
               equalIgnoringCase(longer.substr(0, shorter.size()), shorter);
    };
    return shortForm(machine, hostname) || shortForm(hostname, machine);
}

std::vector<WindowId> clientsFrontToBack(const std::optional<std::vector<WindowId>>& clientList,
                                         const std::optional<std::vector<WindowId>>& stacking) {
    std::vector<WindowId> ordered;
    if (!stacking) {
        if (clientList) ordered.assign(clientList->rbegin(), clientList->rend());
        return ordered;
    }
    if (!clientList) {
        ordered.assign(stacking->rbegin(), stacking->rend());
        return ordered;
    }
    // A client the stacking list does not hold yet was mapped after it was
    // written: new windows open on top.
    const std::unordered_set<WindowId> stacked(stacking->begin(), stacking->end());
    std::unordered_set<WindowId> placed;
    for (auto it = clientList->rbegin(); it != clientList->rend(); ++it) {
        if (!stacked.contains(*it) && placed.insert(*it).second) ordered.push_back(*it);
    }
    const std::unordered_set<WindowId> managed(clientList->begin(), clientList->end());
    for (auto it = stacking->rbegin(); it != stacking->rend(); ++it) {
        if (managed.contains(*it) && placed.insert(*it).second) ordered.push_back(*it);
    }
    return ordered;
}

WindowKind classifyWindow(std::span<const Atom> types, std::optional<WindowId> transientFor, WindowId self,
                          bool skipTaskbar, bool modal, const WindowTypeAtoms& atoms) {
    enum class Base { unknown, normal, dialog, floating, auxiliary, desktopPart };
    Base base = Base::unknown;
    for (const Atom type : types) {
        if (type == 0) continue;
        if (type == atoms.normal) {
            base = Base::normal;
        } else if (type == atoms.dialog) {
            base = Base::dialog;
        } else if (type == atoms.utility || type == atoms.toolbar || type == atoms.menu) {
            base = Base::floating;
        } else if (type == atoms.splash) {
            base = Base::auxiliary;
        } else if (type == atoms.dock || type == atoms.desktop || type == atoms.dropdownMenu ||
                   type == atoms.popupMenu || type == atoms.tooltip || type == atoms.notification ||
                   type == atoms.combo || type == atoms.dnd) {
            base = Base::desktopPart;
        } else {
            continue; // a type we do not know: the next one in the list decides
        }
        break;
    }
    switch (base) {
    case Base::dialog:
        return WindowKind::dialog;
    case Base::floating:
        return WindowKind::floating;
    case Base::auxiliary:
        return WindowKind::auxiliary;
    case Base::desktopPart:
        return WindowKind::desktopPart;
    case Base::unknown:
    case Base::normal:
        break;
    }
    // "If _NET_WM_WINDOW_TYPE is not set, then managed windows with
    // WM_TRANSIENT_FOR set MUST be taken as _NET_WM_WINDOW_TYPE_DIALOG."
    // A window typed normal but transient is still a secondary window.
    if ((transientFor && *transientFor != self) || modal) return WindowKind::dialog;
    if (skipTaskbar) return WindowKind::auxiliary;
    return WindowKind::standard;
}

bool onCurrentDesktop(std::optional<std::uint32_t> windowDesktop, std::optional<std::uint32_t> currentDesktop) {
    constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;
    if (!windowDesktop || !currentDesktop || *windowDesktop == kAllDesktops) return true;
    return *windowDesktop == *currentDesktop;
}

} // namespace quellan::x11
