#include "XTestEnvironment.hpp"

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quellan::x11::testing {
namespace {

template <typename T> using Freed = std::unique_ptr<T, decltype(&std::free)>;

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);)
        parts.push_back(part);
    return parts;
}

} // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
}

TemporaryFolder::TemporaryFolder(const std::string& name) {
    std::string pattern = "/tmp/quellan-" + name + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::system_error(errno, std::generic_category(), pattern);
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

// --- Process ---------------------------------------------------------------

std::unique_ptr<Process> Process::spawn(const std::vector<std::string>& arguments, const Options& options,
                                        std::string& error) {
    int fromChild[2] = {-1, -1};
    if (options.pipes && pipe2(fromChild, O_CLOEXEC) != 0) {
        error = "pipe: " + std::string(std::strerror(errno));
        return nullptr;
    }
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (!options.environment.contains(text.substr(0, text.find('=')))) environment.push_back(text);
    }
    for (const auto& [key, value] : options.environment)
        environment.push_back(key + "=" + value);
    std::vector<char*> argv, envp;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    for (const auto& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        error = "fork: " + std::string(std::strerror(errno));
        return nullptr;
    }
    if (pid == 0) {
        // A group of its own, so stopping it also stops what it started; and
        // ended with the test even when the test crashes.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(options.pipes ? fromChild[1] : null, STDOUT_FILENO);
        // Quiet window managers: their warnings would bury the test output.
        if (options.pipes && options.errorToOutput) {
            dup2(fromChild[1], STDERR_FILENO);
        } else if (std::getenv("QUELLAN_X11_TEST_VERBOSE") == nullptr) {
            dup2(null, STDERR_FILENO);
        }
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    auto process = std::unique_ptr<Process>(new Process());
    process->pid_ = pid;
    if (options.pipes) {
        close(fromChild[1]);
        process->output_ = fromChild[0];
    }
    return process;
}

Process::~Process() {
    stop();
    if (output_ >= 0) close(output_);
}

bool Process::running() {
    if (reaped_) return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return !reaped_;
}

std::optional<int> Process::exitCode(std::chrono::milliseconds limit) {
    if (!waitUntil([&] { return !running(); }, limit) || !WIFEXITED(status_)) return std::nullopt;
    return WEXITSTATUS(status_);
}

void Process::stop() {
    if (pid_ <= 0 || stopped_) return;
    stopped_ = true;
    if (running()) {
        ::kill(-pid_, SIGTERM);
        if (!waitUntil([&] { return !running(); }, 1s)) {
            ::kill(-pid_, SIGKILL);
            waitpid(pid_, &status_, 0);
            reaped_ = true;
        }
    }
    // Whatever it started in its group goes with it.
    ::kill(-pid_, SIGKILL);
}

std::optional<std::string> Process::readLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        if (const auto newline = buffered_.find('\n'); newline != std::string::npos) {
            std::string line = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return line;
        }
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0) return std::nullopt;
        pollfd descriptor{output_, POLLIN, 0};
        if (poll(&descriptor, 1, static_cast<int>(remaining.count())) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(output_, buffer, sizeof buffer);
        if (n <= 0) return std::nullopt;
        buffered_.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

std::vector<std::string> runCommand(const std::vector<std::string>& arguments,
                                    const std::map<std::string, std::string>& environment) {
    std::string error;
    auto process = Process::spawn(arguments, {.environment = environment, .pipes = true}, error);
    std::vector<std::string> lines;
    for (auto line = process ? process->readLine(10s) : std::nullopt; line; line = process->readLine(10s))
        lines.push_back(*line);
    return lines;
}

// --- XServer -----------------------------------------------------------------

std::unique_ptr<XServer> XServer::start(std::string& error) {
    // -displayfd: the server picks a free display and writes its number.
    auto server = std::make_unique<XServer>();
    server->process_ =
        Process::spawn({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                       {.environment = {}, .pipes = true}, error);
    const auto number = server->process_ ? server->process_->readLine(15s) : std::nullopt;
    if (!number || number->empty()) {
        if (error.empty()) error = "Xvfb did not report a display";
        return nullptr;
    }
    server->display_ = ":" + *number;
    return server;
}

// --- WindowManager -----------------------------------------------------------

pid_t WindowManager::pid() const { return process_->pid(); }

std::unique_ptr<WindowManager> WindowManager::start(const std::string& program, const std::string& display,
                                                    std::string& error, bool expectEmpty) {
    auto manager = std::make_unique<WindowManager>();
    const std::string home = manager->home_.path();
    // Every input is the test's own: configuration, style, menus and keys,
    // no system autostart, and a do-nothing wallpaper helper first on PATH
    // (fluxbox runs one at start; without a wallpaper program installed
    // the real one opens an error window the tests would count).
    std::filesystem::create_directories(home + "/bin");
    std::ofstream(home + "/bin/fbsetbg") << "#!/bin/sh\nexit 0\n";
    chmod((home + "/bin/fbsetbg").c_str(), 0755);
    std::vector<std::string> arguments{program};
    if (program == "openbox") {
        std::ofstream(home + "/rc.xml") << "<?xml version=\"1.0\"?>\n<openbox_config "
                                           "xmlns=\"http://openbox.org/3.4/rc\"/>\n";
        arguments.insert(arguments.end(), {"--sm-disable", "--config-file", home + "/rc.xml"});
    } else if (program == "fluxbox") {
        for (const char* file : {"style", "overlay", "menu", "keys", "apps"})
            std::ofstream(home + "/" + file) << (std::string(file) == "style" ? "background: none\n" : "");
        std::ofstream(home + "/init") << "session.configVersion: 13\n"
                                      << "session.screen0.rootCommand:\n"
                                      << "session.styleFile: " << home << "/style\n"
                                      << "session.styleOverlay: " << home << "/overlay\n"
                                      << "session.menuFile: " << home << "/menu\n"
                                      << "session.keyFile: " << home << "/keys\n"
                                      << "session.appsFile: " << home << "/apps\n";
        arguments.insert(arguments.end(), {"-rc", home + "/init"});
    } else if (program == "i3") {
        // No bar, no nagging: nothing of its own that the tests would count.
        std::ofstream(home + "/i3.conf") << "# i3 config file (v4)\nfont pango:monospace 8\n";
        arguments.insert(arguments.end(), {"-c", home + "/i3.conf"});
    }
    const char* systemPath = std::getenv("PATH");
    manager->process_ =
        Process::spawn(arguments,
                       {.environment = {{"DISPLAY", display},
                                        {"HOME", home},
                                        {"PATH", home + "/bin:" + (systemPath ? systemPath : "/usr/bin:/bin")},
                                        {"XDG_CONFIG_HOME", home + "/.config"},
                                        {"XDG_CONFIG_DIRS", home + "/xdg"},
                                        {"XDG_CACHE_HOME", home + "/.cache"},
                                        {"XDG_DATA_HOME", home + "/.local/share"},
                                        {"XDG_RUNTIME_DIR", home}}},
                       error);
    if (!manager->process_) return nullptr;

    auto probe = Probe::connect(display, error);
    if (!probe) return nullptr;
    // Ready once it announces itself the way EWMH says: root and check window agree.
    const bool ready = waitUntil(
        [&] {
            const auto check = probe->cardinals(probe->root(), "_NET_SUPPORTING_WM_CHECK");
            return !check.empty() && probe->cardinals(check[0], "_NET_SUPPORTING_WM_CHECK") == check &&
                   !probe->cardinals(probe->root(), "_NET_CURRENT_DESKTOP").empty();
        },
        20s);
    // Some window managers drop map requests made while they still start
    // up: ready means a window mapped now gets managed.
    bool manages = false;
    for (int attempt = 0; ready && !manages && attempt < 20; ++attempt) {
        const WindowId window = probe->create("pid=none");
        manages = probe->waitManaged(window, false, 500ms);
        probe->destroyWindow(window);
        waitUntil([&] { return std::ranges::count(probe->clientList(), window) == 0; }, 2s);
    }
    if (!ready || !manages || !manager->process_->running()) {
        error = program + " did not become ready";
        return nullptr;
    }
    // Anything already managed would skew every count a test makes; what a
    // window manager starts at start-up shows within a few tenths of a second.
    if (expectEmpty && waitUntil([&] { return !probe->clientList().empty(); }, 400ms)) {
        error = program + " started with a window already there (xprop -id shows what it is):";
        for (const WindowId stray : probe->clientList())
            error += " " + std::to_string(stray);
        return nullptr;
    }
    return manager;
}

// --- TrayHost ----------------------------------------------------------------

std::unique_ptr<Process> startTrayHost(const std::string& program, const std::string& display, std::string& error) {
    auto probe = Probe::connect(display, error);
    if (!probe) return nullptr;
    // trayer is a dock along the top; wmsystemtray, outside Window Maker, a plain untyped window.
    const std::vector<std::string> arguments =
        program == "trayer"
            ? std::vector<std::string>{"trayer", "--edge", "top", "--height", "32", "--widthtype", "request"}
            : std::vector<std::string>{program, "--non-wmaker"};
    // Neither reads configuration; a home that does not exist keeps them from the user's anyway.
    auto host = Process::spawn(arguments, {.environment = {{"DISPLAY", display}, {"HOME", "/nonexistent"}}}, error);
    if (!host) return nullptr;
    if (!waitUntil([&] { return probe->selectionOwned("_NET_SYSTEM_TRAY_S0"); }, 20s)) {
        error = program + " never took the tray";
        return nullptr;
    }
    return host;
}

// --- Probe -------------------------------------------------------------------

std::unique_ptr<Probe> Probe::connect(const std::string& display, std::string& error) {
    auto probe = std::make_unique<Probe>();
    int screen = 0;
    probe->connection_ = xcb_connect(display.c_str(), &screen);
    if (xcb_connection_has_error(probe->connection_)) {
        error = "probe cannot connect to " + display;
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(probe->connection_));
    for (int i = 0; i < screen; ++i)
        xcb_screen_next(&screens);
    probe->root_ = screens.data->root;
    probe->display_ = display;
    return probe;
}

Probe::~Probe() { xcb_disconnect(connection_); }

Atom Probe::atom(const std::string& name) {
    if (const auto known = atoms_.find(name); known != atoms_.end()) return known->second;
    const auto request = xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.c_str());
    const Freed<xcb_intern_atom_reply_t> reply{xcb_intern_atom_reply(connection_, request, nullptr), std::free};
    return reply ? atoms_[name] = reply->atom : 0;
}

std::vector<std::uint32_t> Probe::cardinals(WindowId window, const std::string& property) {
    const auto request =
        xcb_get_property(connection_, 0, window, atom(property), XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 16);
    const Freed<xcb_get_property_reply_t> reply{xcb_get_property_reply(connection_, request, nullptr), std::free};
    if (!reply || reply->format != 32) return {};
    const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return {data, data + xcb_get_property_value_length(reply.get()) / 4};
}

std::vector<WindowId> Probe::clientList() { return cardinals(root_, "_NET_CLIENT_LIST"); }

bool Probe::selectionOwned(const std::string& name) {
    const auto request = xcb_get_selection_owner(connection_, atom(name));
    const Freed<xcb_get_selection_owner_reply_t> owner{xcb_get_selection_owner_reply(connection_, request, nullptr),
                                                       std::free};
    return owner && owner->owner != XCB_NONE;
}

std::optional<WindowId> Probe::activeWindow() {
    const auto items = cardinals(root_, "_NET_ACTIVE_WINDOW");
    return items.empty() || items[0] == 0 ? std::nullopt : std::optional(items[0]);
}

std::optional<std::uint32_t> Probe::wmState(WindowId window) {
    const auto items = cardinals(window, "WM_STATE");
    return items.empty() ? std::nullopt : std::optional(items[0]);
}

void Probe::activate(WindowId window) {
    // As a pager asks, which window managers obey without focus-stealing rules.
    runCommand({"xdotool", "windowactivate", std::to_string(window)}, {{"DISPLAY", display_}});
}

void Probe::map(const std::vector<WindowId>& windows) {
    for (const WindowId window : windows)
        xcb_map_window(connection_, window);
    sync();
}

void Probe::grabServer(bool grabbed) {
    grabbed ? xcb_grab_server(connection_) : xcb_ungrab_server(connection_);
    sync();
}

void Probe::sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

void Probe::set(WindowId window, const std::string& property, const std::string& kind, const std::string& values) {
    const WindowId target = window == 0 ? root_ : window;
    const auto write = [&](Atom type, std::uint8_t format, const void* data, std::size_t items) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, target, atom(property), type, format,
                            static_cast<std::uint32_t>(items), data);
    };
    if (kind != "atoms" && kind != "windows" && kind != "cardinals" && kind != "wmstate") {
        write(atom(kind), 8, values.data(), values.size()); // bytes of the type named `kind`
    } else {
        std::vector<std::uint32_t> items;
        for (const auto& value : split(values, ','))
            items.push_back(kind == "atoms" ? atom(value) : static_cast<std::uint32_t>(std::stoul(value, nullptr, 0)));
        if (kind == "wmstate") items.resize(2);
        const std::map<std::string, Atom> types{
            {"atoms", XCB_ATOM_ATOM}, {"windows", XCB_ATOM_WINDOW}, {"cardinals", XCB_ATOM_CARDINAL}};
        write(kind == "wmstate" ? atom("WM_STATE") : types.at(kind), 32, items.data(), items.size());
    }
    sync();
}

WindowId Probe::create(const std::string& text) {
    std::array<char, 256> host{};
    gethostname(host.data(), host.size() - 1);
    std::map<std::string, std::string> options{{"pid", "4000"}, {"class", "QuellanTest"}, {"machine", host.data()}};
    for (const auto& word : split(text, ' ')) {
        const auto equals = std::min(word.find('='), word.size());
        if (!word.empty()) options[word.substr(0, equals)] = word.substr(std::min(equals + 1, word.size()));
    }
    xcb_connection_t* c = connection_;
    const WindowId window = xcb_generate_id(c);
    const std::uint32_t white = 0xFFFFFF;
    const WindowId parent = options.contains("parent") ? std::stoul(options["parent"]) : root_;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, parent, 10, 10, 200, 120, 1, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, &white);
    if (options["pid"] != "none") set(window, "_NET_WM_PID", "cardinals", options["pid"]);
    if (options["machine"] != "none") set(window, "WM_CLIENT_MACHINE", "STRING", options["machine"]);
    set(window, "WM_CLASS", "STRING", "quellan-test" + std::string(1, '\0') + options["class"] + '\0');
    // "dialog" names _NET_WM_WINDOW_TYPE_DIALOG, "hidden" _NET_WM_STATE_HIDDEN.
    for (const auto& [key, property] : {std::pair{"type", "_NET_WM_WINDOW_TYPE"}, {"state", "_NET_WM_STATE"}}) {
        if (!options.contains(key)) continue;
        std::string names;
        for (auto name : split(options[key], ',')) {
            std::ranges::transform(name, name.begin(), [](unsigned char ch) { return std::toupper(ch); });
            names += (names.empty() ? "" : ",") + std::string(property) + "_" + name;
        }
        set(window, property, "atoms", names);
    }
    if (options.contains("transient")) set(window, "WM_TRANSIENT_FOR", "windows", options["transient"]);
    if (options.contains("title")) set(window, "_NET_WM_NAME", "UTF8_STRING", options["title"]);
    if (options.contains("placed")) {
        // USPosition: the window manager need not look for a place, so hundreds map fast.
        std::array<std::uint32_t, 18> hints{1u, 10, 10, 200, 120};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32,
                            hints.size(), hints.data());
    }
    if (options.contains("owns")) xcb_set_selection_owner(c, window, atom(options["owns"]), XCB_CURRENT_TIME);
    if (!options.contains("nomap")) xcb_map_window(c, window);
    sync();
    return xcb_connection_has_error(c) ? 0 : window;
}

void Probe::announceWindowManager() {
    const WindowId check = create("pid=none machine=none nomap");
    set(check, "_NET_SUPPORTING_WM_CHECK", "windows", std::to_string(check));
    set(0, "_NET_SUPPORTING_WM_CHECK", "windows", std::to_string(check));
}

void Probe::destroyWindow(WindowId window) {
    xcb_destroy_window(connection_, window);
    sync();
}

bool Probe::waitManaged(WindowId window, bool withActions, std::chrono::milliseconds limit) {
    return waitUntil(
        [&] {
            return std::ranges::count(clientList(), window) != 0 && wmState(window).has_value() &&
                   !cardinals(window, "_NET_WM_DESKTOP").empty() &&
                   (!withActions || !cardinals(window, "_NET_WM_ALLOWED_ACTIONS").empty());
        },
        limit);
}

} // namespace quellan::x11::testing
