// The decisions the X11 backend takes from what clients and the window
// manager report: the X-Resource pid reply, WM_CLIENT_MACHINE against our
// host name, the front-to-back client order and window kinds. The input is
// a seven-byte header, then a payload each check reads its way:
//
//   byte 0  id entries in the pid reply; 255 for 2^32 - 1
//   byte 1  bit 0 client list known, bit 1 stacking list known, bit 2 kept
//           off the taskbar, bit 3 modal, bit 4 transient
//   byte 2  how many payload bytes form the client list (one id a byte);
//           the rest form the stacking list
//   byte 3-4  which window type atoms are not interned, a bit each
//   byte 5  the WM_TRANSIENT_FOR target; byte 6 the window itself
//   rest    the pid reply bytes; "machine\0host"; one window type a byte
#include "FuzzSupport.hpp"
#include "Platform/x11/PropertyDecoding.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quellan::x11 {
namespace {

using fuzz::chars;

void checkClientPid(std::span<const std::uint8_t> bytes, std::uint32_t count) {
    const std::optional<std::int32_t> pid = decodeClientPid(bytes, count);
    if (count == 0 || bytes.size() < 16) QUELLAN_FUZZ_CHECK(!pid);
    if (!pid) return;
    QUELLAN_FUZZ_CHECK(*pid > 0);
    // A found pid stays found with more entries announced or more bytes after it.
    if (count < std::numeric_limits<std::uint32_t>::max()) QUELLAN_FUZZ_CHECK(decodeClientPid(bytes, count + 1) == pid);
    std::vector<std::uint8_t> longer(bytes.begin(), bytes.end());
    longer.insert(longer.end(), 16, 0xFF);
    QUELLAN_FUZZ_CHECK(decodeClientPid(longer, count) == pid);
}

std::string raised(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

void checkMachine(std::string_view payload) {
    const std::size_t nul = payload.find('\0');
    const std::string_view machine = payload.substr(0, nul);
    std::string_view host = nul == std::string_view::npos ? std::string_view() : payload.substr(nul + 1);
    host = host.substr(0, host.find('\0'));

    // Names compare without case, either way round, and a domain may follow.
    const bool local = isLocalMachine(machine, host);
    const std::string machineRaised = raised(machine), hostRaised = raised(host);
    QUELLAN_FUZZ_CHECK(isLocalMachine(machineRaised, host) == local);
    QUELLAN_FUZZ_CHECK(isLocalMachine(machine, hostRaised) == local);
    if (machineRaised != "LOCALHOST" && hostRaised != "LOCALHOST") {
        QUELLAN_FUZZ_CHECK(isLocalMachine(host, machine) == local);
    }
    if (!machine.empty()) {
        QUELLAN_FUZZ_CHECK(isLocalMachine(machine, machine));
        QUELLAN_FUZZ_CHECK(isLocalMachine(std::string(machine) + ".example.org", machine));
    }
    if (machine.empty() && hostRaised != "LOCALHOST") QUELLAN_FUZZ_CHECK(!local);
}

void checkOrder(const std::optional<std::vector<WindowId>>& clients,
                const std::optional<std::vector<WindowId>>& stacking) {
    const std::vector<WindowId> ordered = clientsFrontToBack(clients, stacking);
    if (!clients || !stacking) {
        // One list alone, newest (last) first.
        std::vector<WindowId> reversed;
        if (const auto& only = clients ? clients : stacking) reversed.assign(only->rbegin(), only->rend());
        QUELLAN_FUZZ_CHECK(ordered == reversed);
        return;
    }
    // Each managed client once, no other window.
    const std::unordered_set<WindowId> managed(clients->begin(), clients->end());
    const std::unordered_set<WindowId> placed(ordered.begin(), ordered.end());
    QUELLAN_FUZZ_CHECK(placed.size() == ordered.size());
    QUELLAN_FUZZ_CHECK(placed == managed);

    // Stacked clients first, by their topmost place, then the rest, newest first.
    std::unordered_map<WindowId, std::size_t> top, newest;
    for (std::size_t i = 0; i < stacking->size(); ++i)
        top[(*stacking)[i]] = i;
    for (std::size_t i = 0; i < clients->size(); ++i)
        newest[(*clients)[i]] = i;
    bool inStackedPart = true;
    for (std::size_t i = 0; i < ordered.size(); ++i) {
        const bool stacked = top.contains(ordered[i]);
        QUELLAN_FUZZ_CHECK(!stacked || inStackedPart);
        inStackedPart = stacked;
        if (i == 0) continue;
        const bool previousStacked = top.contains(ordered[i - 1]);
        if (stacked && previousStacked) QUELLAN_FUZZ_CHECK(top[ordered[i - 1]] > top[ordered[i]]);
        if (!stacked && !previousStacked) QUELLAN_FUZZ_CHECK(newest[ordered[i - 1]] > newest[ordered[i]]);
    }
}

std::vector<std::uint8_t> asWords(std::span<const std::uint8_t> ids) {
    std::vector<std::uint8_t> bytes(ids.size() * 4);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const std::uint32_t id = ids[i];
        std::memcpy(bytes.data() + 4 * i, &id, 4);
    }
    return bytes;
}

void checkKind(std::span<const std::uint8_t> payload, std::uint16_t uninterned, std::optional<WindowId> transientFor,
               WindowId self, bool skipTaskbar, bool modal) {
    std::array<Atom, 14> atoms{};
    for (std::size_t i = 0; i < atoms.size(); ++i)
        atoms[i] = (uninterned >> i) & 1 ? 0 : static_cast<Atom>(i + 1);
    const WindowTypeAtoms table{atoms[0], atoms[1], atoms[2], atoms[3],  atoms[4],  atoms[5],  atoms[6],
                                atoms[7], atoms[8], atoms[9], atoms[10], atoms[11], atoms[12], atoms[13]};
    // Values 1-14 are the known types when interned, 15-31 types of no meaning.
    std::vector<Atom> types;
    for (const std::uint8_t byte : payload)
        types.push_back(byte % 32);
    const WindowKind kind = classifyWindow(types, transientFor, self, skipTaskbar, modal, table);
    // Types of no meaning in front change nothing.
    std::vector<Atom> padded{0, 999, 31};
    padded.insert(padded.end(), types.begin(), types.end());
    QUELLAN_FUZZ_CHECK(classifyWindow(padded, transientFor, self, skipTaskbar, modal, table) == kind);
    // Types that were never interned are of no meaning, so only the hints decide.
    const WindowTypeAtoms none{};
    QUELLAN_FUZZ_CHECK(classifyWindow(types, transientFor, self, skipTaskbar, modal, none) ==
                       classifyWindow({}, transientFor, self, skipTaskbar, modal, table));
    // A window is never transient for itself.
    if (transientFor == self) {
        QUELLAN_FUZZ_CHECK(classifyWindow(types, std::nullopt, self, skipTaskbar, modal, table) == kind);
    }
}

} // namespace
} // namespace quellan::x11

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quellan::x11;
    quellan::fuzz::Reader reader({data, size});
    const std::uint8_t countByte = reader.byte();
    const std::uint32_t count = countByte == 255 ? std::numeric_limits<std::uint32_t>::max() : countByte;
    const std::uint8_t flags = reader.byte();
    const std::size_t split = reader.byte();
    const auto uninterned = static_cast<std::uint16_t>(reader.byte() | reader.byte() << 8);
    const WindowId transientTarget = reader.byte();
    const WindowId self = reader.byte();
    const std::vector<std::uint8_t> payload(reader.rest().begin(), reader.rest().end());
    const auto flag = [&](int bit) { return ((flags >> bit) & 1) != 0; };

    checkClientPid(payload, count);
    checkMachine(quellan::fuzz::chars(payload));

    const std::span<const std::uint8_t> all(payload);
    const std::span<const std::uint8_t> clientIds = all.first(std::min(split, all.size()));
    const std::span<const std::uint8_t> stackingIds = all.subspan(clientIds.size());
    std::optional<std::vector<WindowId>> clients, stacking;
    if (flag(0)) clients.emplace(clientIds.begin(), clientIds.end());
    if (flag(1)) stacking.emplace(stackingIds.begin(), stackingIds.end());
    checkOrder(clients, stacking);

    // The same lists as the window manager's properties carry them.
    const std::vector<std::uint8_t> clientWords = asWords(clientIds), stackingWords = asWords(stackingIds);
    const RawProperty clientProperty{kWindowType, 32, clientWords}, stackingProperty{kWindowType, 32, stackingWords};
    checkOrder(decodeWindowList(clientProperty, 1u << 16), decodeWindowList(stackingProperty, 1u << 16));

    const std::optional<WindowId> transientFor = flag(4) ? std::optional(transientTarget) : std::nullopt;
    checkKind(payload, uninterned, transientFor, self, flag(2), flag(3));

    return 0;
}
