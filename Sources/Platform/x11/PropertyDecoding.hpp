// Pure decoders for the window properties the X11 backend reads: every
// function takes the bytes a server sent, whatever they are, and returns
// only what they validly say.
#pragma once

#include "Platform/model/ForeignText.hpp"
#include "Platform/model/WindowKind.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quellan::x11 {

using Atom = std::uint32_t;
using WindowId = std::uint32_t;

// Predefined atoms of the core protocol; they never need interning.
inline constexpr Atom kAtomType = 4;
inline constexpr Atom kCardinalType = 6;
inline constexpr Atom kStringType = 31;
inline constexpr Atom kWindowType = 33;

/// One property value as a GetProperty reply carries it. `format` is the
/// item width in bits (8, 16 or 32); `bytes` are the value bytes, in the
/// client's byte order, of any length.
struct RawProperty {
    Atom type = 0;
    std::uint8_t format = 0;
    std::span<const std::uint8_t> bytes;
};

/// The longest text any decoder returns, in UTF-8 bytes.
inline constexpr std::size_t kMaxTextBytes = 4096;
using platform::decodeProcessName;
using platform::kMaxNameBytes;
using platform::repairUtf8;
using platform::WindowKind;

/// The 32-bit items of a format-32 property of type `type`; empty when the
/// type or format differ. At most `maxItems` items.
std::vector<std::uint32_t> decodeCardinals(const RawProperty& property, Atom type, std::size_t maxItems);

/// The first item of a format-32 CARDINAL property, such as a pid or a desktop.
std::optional<std::uint32_t> decodeCardinal(const RawProperty& property);

/// The first item of a format-32 WINDOW property; None (0) counts as absent.
std::optional<WindowId> decodeWindow(const RawProperty& property);

/// A format-32 WINDOW list, in its order, without None entries and without
/// repeats (the first occurrence stays). At most `maxItems` windows.
std::vector<WindowId> decodeWindowList(const RawProperty& property, std::size_t maxItems);

/// A format-32 ATOM list (window types, states, allowed actions, supported
/// hints), without None entries. At most `maxItems` atoms.
std::vector<Atom> decodeAtomList(const RawProperty& property, std::size_t maxItems);

/// The ICCCM WM_STATE states.
enum class WmState : std::uint32_t { withdrawn = 0, normal = 1, iconic = 3 };

/// The state of a WM_STATE property (type WM_STATE, format 32); absent for
/// any other type, format or state value.
std::optional<WmState> decodeWmState(const RawProperty& property, Atom wmStateType);

/// The text encodings a text property may be in, by their atoms.
struct TextTypes {
    Atom utf8String = 0;
    Atom compoundText = 0;
};

/// A window title or other text property as UTF-8: UTF8_STRING repaired
/// (each invalid sequence becomes U+FFFD), STRING as Latin-1, COMPOUND_TEXT
/// in its Latin-1 and UTF-8 segments (other character sets become U+FFFD),
/// any other 8-bit type as UTF-8 when valid and Latin-1 otherwise. Only the
/// first NUL-separated element counts; control characters become spaces;
/// the result is cut to `maxBytes` on a character boundary. Absent when the
/// format is not 8.
std::optional<std::string> decodeText(const RawProperty& property, const TextTypes& types,
                                      std::size_t maxBytes = kMaxTextBytes);

/// The class part of WM_CLASS ("instance\0class\0"), or the instance part
/// when the class is empty; absent when both are empty or the format is not 8.
std::optional<std::string> decodeClassName(const RawProperty& property, const TextTypes& types);

/// The process id of the first local-client-pid entry in the id list of an
/// X-Resource QueryClientIds reply (`bytes` follow the 32-byte reply
/// header; `count` is the reply's num_ids). Absent when there is none, the
/// list is cut short, or the pid is 0.
std::optional<std::int32_t> decodeClientPid(std::span<const std::uint8_t> bytes, std::uint32_t count);

/// Whether a WM_CLIENT_MACHINE value names this host: equal ignoring case,
/// or one the other's first label ("box" and "box.example.org"), or "localhost".
bool isLocalMachine(std::string_view machine, std::string_view hostname);

/// The managed clients front to back: the stacking list (bottom to top)
/// reversed, restricted to the clients in `clientList` when that is known;
/// clients missing from the stacking list (mapped since it was written) on
/// top, newest mapped first.
/// Without a stacking list, the client list (mapping order) newest first.
std::vector<WindowId> clientsFrontToBack(const std::optional<std::vector<WindowId>>& clientList,
                                         const std::optional<std::vector<WindowId>>& stacking);

/// The window types the backend tells apart.
struct WindowTypeAtoms {
    Atom normal = 0, dialog = 0, utility = 0, toolbar = 0, menu = 0, splash = 0, dock = 0, desktop = 0;
    Atom dropdownMenu = 0, popupMenu = 0, tooltip = 0, notification = 0, combo = 0, dnd = 0;
};

/// The kind of a client from its window types (first understood one wins;
/// none understood means normal), its WM_TRANSIENT_FOR target, and whether
/// it asks to be kept off the taskbar or is modal.
WindowKind classifyWindow(std::span<const Atom> types, std::optional<WindowId> transientFor, WindowId self,
                          bool skipTaskbar, bool modal, const WindowTypeAtoms& atoms);

/// Whether a window on `windowDesktop` shows on `currentDesktop`; unknown
/// values and 0xFFFFFFFF (all desktops) show.
bool onCurrentDesktop(std::optional<std::uint32_t> windowDesktop, std::optional<std::uint32_t> currentDesktop);

} // namespace quellan::x11
