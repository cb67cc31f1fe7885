// What the X11 backend decides from what clients and the window manager
// report: the X-Resource pid reply, WM_CLIENT_MACHINE against our host
// name, the front-to-back client order and window kinds. The input is a
// seven-byte header, then a payload each check reads its own way:
//
//   byte 0  id entries in the pid reply; 255 for 2^32 - 1
//   byte 1  bit 0 client list known, bit 1 stacking list known, bit 2 kept
//           off the taskbar, bit 3 modal, bit 4 transient
//   byte 2  how many payload bytes form the client list (one id a byte);
//           the rest form the stacking list
//   byte 3-4  unused (kept so that saved inputs read as they did)
//   byte 5  the WM_TRANSIENT_FOR target; byte 6 the window itself
//   rest    the pid reply bytes; "machine\0host"; one window type a byte
//           (1-14 the known types)
#include "FuzzSupport.hpp"
#include "Platform/x11/PropertyDecoding.hpp"

#include <algorithm>
#include <unordered_set>
#include <vector>

using namespace quellan::x11;

static std::string raised(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

/// Names match whatever their case, either way round, and with a domain
/// after one of them; localhost always does.
static void checkMachine(std::string_view payload) {
    const std::string_view machine = payload.substr(0, payload.find('\0'));
    std::string_view host = payload.substr(std::min(payload.size(), machine.size() + 1));
    host = host.substr(0, host.find('\0'));
    const bool local = isLocalMachine(machine, host);
    QUELLAN_FUZZ_CHECK(isLocalMachine(raised(machine), host) == local &&
                       isLocalMachine(machine, raised(host)) == local);
    if (raised(machine) != "LOCALHOST" && raised(host) != "LOCALHOST")
        QUELLAN_FUZZ_CHECK(isLocalMachine(host, machine) == local);
    if (!machine.empty()) QUELLAN_FUZZ_CHECK(isLocalMachine(std::string(machine) + ".example.org", raised(machine)));
    QUELLAN_FUZZ_CHECK(isLocalMachine("LocalHost", host));
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto header = [&](std::size_t i) -> std::uint8_t { return i < size ? data[i] : 0; };
    const auto flag = [&](int bit) { return ((header(1) >> bit) & 1) != 0; };
    // A copy of exactly the payload bytes, so that ASan sees any read past them.
    const std::vector<std::uint8_t> payload(data + std::min<std::size_t>(size, 7), data + size);

    const auto pid = decodeClientPid(payload, header(0) == 255 ? 0xFFFFFFFF : header(0));
    QUELLAN_FUZZ_CHECK(!pid || (*pid > 0 && header(0) > 0 && payload.size() >= 16));
    checkMachine(quellan::fuzz::chars(payload.data(), payload.size()));

    const std::size_t split = std::min<std::size_t>(header(2), payload.size());
    std::optional<std::vector<WindowId>> clients, stacking;
    if (flag(0)) clients.emplace(payload.begin(), payload.begin() + split);
    if (flag(1)) stacking.emplace(payload.begin() + split, payload.end());
    const std::vector<WindowId> ordered = clientsFrontToBack(clients, stacking);
    if (!clients || !stacking) {
        // One list alone, newest (last) first.
        const auto& only = clients ? clients : stacking;
        QUELLAN_FUZZ_CHECK(only ? std::equal(ordered.begin(), ordered.end(), only->rbegin(), only->rend())
                                : ordered.empty());
    } else {
        // Each managed client once, no other window.
        const std::unordered_set<WindowId> placed(ordered.begin(), ordered.end());
        QUELLAN_FUZZ_CHECK(placed.size() == ordered.size() &&
                           placed == std::unordered_set<WindowId>(clients->begin(), clients->end()));
    }

    // A window transient for another is never a standard one, whatever its types.
    const auto transientFor = flag(4) ? std::optional<WindowId>(header(5)) : std::nullopt;
    const std::vector<Atom> types(payload.begin(), payload.end());
    const WindowKind kind = classifyWindow(types, transientFor, header(6), flag(2), flag(3),
                                           {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14});
    if (transientFor && *transientFor != header(6)) QUELLAN_FUZZ_CHECK(kind != WindowKind::standard);
    return 0;
}
