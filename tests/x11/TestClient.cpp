// A scriptable X client for the backend's tests: reads one command a line
// on stdin, answers "ok [value]" or "error <why>" on stdout, and exits at
// end of input. It creates windows with chosen properties and sets any
// property on them or on the root (to play a window manager's part).
//
//   create [key=value ...]       -> ok <window>   keys: pid=N|none, machine=S|none,
//        class=S, type=a,b, state=a,b, transient=W, title=S, iconic, nomap
//   destroy W                    -> ok
//   prop W|root NAME atoms a,b | windows w,w | cardinals n,n | bytes TYPE HEX -> ok
//   wmcheck                      -> ok <check window>
//   churn N                      -> ok   maps N windows quickly, each destroyed
//                                        a few windows later, none left
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

xcb_connection_t* connection = nullptr;
xcb_window_t root = 0;
xcb_visualid_t visual = 0;
std::map<std::string, xcb_atom_t> atomCache;

xcb_atom_t atom(const std::string& name) {
    if (const auto found = atomCache.find(name); found != atomCache.end()) return found->second;
    auto* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t value = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    atomCache[name] = value;
    return value;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, separator))
        parts.push_back(part);
    return parts;
}

std::uint32_t number(const std::string& text) { return static_cast<std::uint32_t>(std::stoul(text, nullptr, 0)); }

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

/// "dialog" names _NET_WM_WINDOW_TYPE_DIALOG; a name starting with "_" is taken as it is.
xcb_atom_t prefixed(const std::string& prefix, const std::string& name) {
    return atom(name.starts_with("_") ? name : prefix + upper(name));
}

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string hostname() {
    char buffer[256] = {};
    gethostname(buffer, sizeof buffer - 1);
    return buffer;
}

void setProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, std::uint8_t format, const void* data,
                 std::size_t items) {
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, type, format,
                        static_cast<std::uint32_t>(items), data);
}

void setText(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, const std::string& text) {
    setProperty(window, property, type, 8, text.data(), text.size());
}

void setCardinals(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, const std::vector<std::uint32_t>& items) {
    setProperty(window, property, type, 32, items.data(), items.size());
}

xcb_window_t target(const std::string& text) { return text == "root" ? root : number(text); }

std::string create(const std::vector<std::string>& words) {
    std::map<std::string, std::string> options;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const auto equals = words[i].find('=');
        options[words[i].substr(0, equals)] = equals == std::string::npos ? "" : words[i].substr(equals + 1);
    }
    const xcb_window_t window = xcb_generate_id(connection);
    const std::uint32_t values[] = {0xFFFFFF};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, root, 10, 10, 200, 120, 1,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, visual, XCB_CW_BACK_PIXEL, values);

    const std::string pid = options.contains("pid") ? options["pid"] : std::to_string(getpid());
    if (pid != "none") setCardinals(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, {number(pid)});
    const std::string machine = options.contains("machine") ? options["machine"] : hostname();
    if (machine != "none") setText(window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, machine);
    const std::string windowClass = options.contains("class") ? options["class"] : "QuellanTest";
    setText(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, "quellan-test" + std::string(1, '\0') + windowClass + '\0');
    if (options.contains("type")) {
        std::vector<std::uint32_t> types;
        for (const auto& name : split(options["type"], ','))
            types.push_back(prefixed("_NET_WM_WINDOW_TYPE_", name));
        setCardinals(window, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, types);
    }
    if (options.contains("state")) {
        std::vector<std::uint32_t> states;
        for (const auto& name : split(options["state"], ','))
            states.push_back(prefixed("_NET_WM_STATE_", name));
        setCardinals(window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, states);
    }
    if (options.contains("transient")) {
        setCardinals(window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, {target(options["transient"])});
    }
    if (options.contains("title")) setText(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), options["title"]);
    if (options.contains("iconic")) {
        // WM_HINTS with StateHint and initial_state IconicState: start minimized.
        const std::vector<std::uint32_t> hints{1u << 1, 0, 3, 0, 0, 0, 0, 0, 0};
        setCardinals(window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, hints);
    }
    if (!options.contains("nomap")) xcb_map_window(connection, window);
    return std::to_string(window);
}

std::string setRootOrWindowProperty(const std::vector<std::string>& words) {
    if (words.size() < 4) return "error usage";
    const xcb_window_t window = target(words[1]);
    const xcb_atom_t property = atom(words[2]);
    const std::string& kind = words[3];
    const std::string values = words.size() > 4 ? words[4] : "";
    std::vector<std::uint32_t> items;
    if (kind == "bytes") {
        if (words.size() < 5) return "error usage";
        setText(window, property, atom(words[4]), fromHex(words.size() > 5 ? words[5] : ""));
        return "";
    }
    for (const auto& value : split(values, ','))
        items.push_back(kind == "atoms" ? atom(value) : target(value));
    if (kind == "atoms") {
        setCardinals(window, property, XCB_ATOM_ATOM, items);
    } else if (kind == "windows") {
        setCardinals(window, property, XCB_ATOM_WINDOW, items);
    } else if (kind == "cardinals") {
        setCardinals(window, property, XCB_ATOM_CARDINAL, items);
    } else if (kind == "wmstate") {
        setCardinals(window, atom("WM_STATE"), atom("WM_STATE"), {items.empty() ? 0 : items[0], 0});
    } else {
        return "error unknown kind " + kind;
    }
    return "";
}

/// Runs one command; the answer follows a round trip, so its effect is on the server.
std::string run(const std::string& line) {
    const std::vector<std::string> words = split(line, ' ');
    if (words.empty()) return "error empty";
    const std::string& command = words[0];
    std::string value;
    if (command == "create") {
        value = create(words);
    } else if (command == "destroy" && words.size() == 2) {
        xcb_destroy_window(connection, target(words[1]));
    } else if (command == "prop") {
        value = setRootOrWindowProperty(words);
        if (value.starts_with("error")) return value;
    } else if (command == "churn" && words.size() == 2) {
        // A few alive at a time, so others see them managed, focused and gone.
        std::vector<xcb_window_t> alive;
        const std::uint32_t count = number(words[1]);
        for (std::uint32_t i = 0; i < count; ++i) {
            alive.push_back(number(create({"create", "title=churn-" + std::to_string(i)})));
            xcb_flush(connection);
            if (alive.size() > 4) {
                xcb_destroy_window(connection, alive.front());
                alive.erase(alive.begin());
            }
            usleep(2000);
        }
        for (const xcb_window_t window : alive)
            xcb_destroy_window(connection, window);
    } else if (command == "wmcheck") {
        const xcb_window_t check = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, check, root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          visual, 0, nullptr);
        setCardinals(check, atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, {check});
        setCardinals(root, atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, {check});
        value = std::to_string(check);
    } else {
        return "error unknown command";
    }
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    if (xcb_connection_has_error(connection)) return "error connection lost";
    return value.empty() ? "ok" : "ok " + value;
}

} // namespace

int main() {
    int screenNumber = 0;
    connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        std::cout << "error cannot connect" << std::endl;
        return 1;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    root = screens.data->root;
    visual = screens.data->root_visual;
    std::cout << "ready" << std::endl;

    std::string pending;
    while (true) {
        pollfd descriptors[2] = {{STDIN_FILENO, POLLIN, 0}, {xcb_get_file_descriptor(connection), POLLIN, 0}};
        if (poll(descriptors, 2, -1) < 0) continue;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection))
            std::free(event); // errors of commands on gone windows are fine
        if (xcb_connection_has_error(connection)) return 1;
        if (descriptors[0].revents == 0) continue;
        char buffer[4096];
        const ssize_t length = read(STDIN_FILENO, buffer, sizeof buffer);
        if (length <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(length));
        for (auto newline = pending.find('\n'); newline != std::string::npos; newline = pending.find('\n')) {
            const std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            try {
                std::cout << run(line) << std::endl;
            } catch (const std::exception& error) {
                std::cout << "error " << error.what() << std::endl;
            }
        }
    }
    xcb_disconnect(connection);
    return 0;
}
