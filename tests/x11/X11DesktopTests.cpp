// The X11 backend against real X servers: with openbox and fluxbox, and
// with the test client playing a window manager whose every property the
// test chooses.
#include "Platform/x11/X11Desktop.hpp"
#include "XTestEnvironment.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace quellan::x11 {
namespace {

using namespace testing;

std::vector<WindowId> idsOf(const std::vector<Candidate>& candidates) {
    std::vector<WindowId> ids;
    for (const auto& candidate : candidates)
        ids.push_back(candidate.window);
    return ids;
}

/// An Xvfb display with the backend connected; subclasses add a window manager or play one.
class DisplayTest : public ::testing::Test {
protected:
    void startDisplay() {
        std::string error;
        server_ = XServer::start(error);
        if (!server_) {
            if (error == "Xvfb is not installed") GTEST_SKIP() << "Xvfb is not installed; skipping real-X tests";
            FAIL() << error;
        }
    }

    void connectBackend() {
        std::string error;
        probe_ = Probe::connect(server_->display(), error);
        ASSERT_TRUE(probe_) << error;
        client_ = TestClient::start(server_->display(), error);
        ASSERT_TRUE(client_) << error;
        ConnectResult connected = X11Desktop::connect(server_->display());
        ASSERT_TRUE(connected.desktop) << connected.error;
        desktop_ = std::move(connected.desktop);
    }

    void TearDown() override {
        if (desktop_) {
            // Every element a test made is released by now.
            EXPECT_EQ(desktop_->liveElements(), 0u);
        }
        client_.reset();
        desktop_.reset();
        probe_.reset();
        manager_.reset();
        server_.reset();
    }

    /// The application's "AXWindows", as window ids.
    std::vector<WindowId> windowsOf(std::int32_t processIdentifier) {
        const ax::Element app = desktop_->createApplication(processIdentifier);
        ax::Value windows;
        std::vector<WindowId> ids;
        if (desktop_->copyAttributeValue(app, ax::kWindowsAttribute, windows) != ax::kSuccess) return ids;
        for (const auto& entry : *windows.asList())
            ids.push_back(static_cast<WindowId>(desktop_->hash(*entry.asElement())));
        return ids;
    }

    /// The element of `window` from its application's "AXWindows".
    ax::Element elementOf(std::int32_t processIdentifier, WindowId window) {
        const ax::Element app = desktop_->createApplication(processIdentifier);
        ax::Value windows;
        if (desktop_->copyAttributeValue(app, ax::kWindowsAttribute, windows) != ax::kSuccess) return {};
        for (const auto& entry : *windows.asList()) {
            if (desktop_->hash(*entry.asElement()) == window) return *entry.asElement();
        }
        return {};
    }

    std::string textOf(const ax::Element& element, std::string_view attribute) {
        ax::Value value;
        if (desktop_->copyAttributeValue(element, attribute, value) != ax::kSuccess || !value.asText()) return "-";
        return *value.asText();
    }

    std::optional<bool> minimizedOf(const ax::Element& element) {
        ax::Value value;
        if (desktop_->copyAttributeValue(element, ax::kMinimizedAttribute, value) != ax::kSuccess) return {};
        return *value.asBoolean();
    }

    std::optional<bool> settableOf(const ax::Element& element) {
        bool settable = false;
        if (desktop_->isAttributeSettable(element, ax::kMinimizedAttribute, settable) != ax::kSuccess) return {};
        return settable;
    }

    /// Takes a fresh view, as every snapshot begins.
    void refresh() { desktop_->frontmostApplication(); }

    std::int32_t clientPid() const { return static_cast<std::int32_t>(client_->pid()); }

    std::unique_ptr<XServer> server_;
    std::unique_ptr<WindowManager> manager_;
    std::unique_ptr<Probe> probe_;
    std::unique_ptr<TestClient> client_;
    std::unique_ptr<X11Desktop> desktop_;
};

// --- with real window managers -----------------------------------------------

class WindowManagerTest : public DisplayTest, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        if (!findProgram(GetParam())) GTEST_SKIP() << GetParam() << " is not installed; skipping";
        startDisplay();
        if (IsSkipped() || HasFatalFailure()) return;
        std::string error;
        manager_ = WindowManager::start(GetParam(), server_->display(), error);
        ASSERT_TRUE(manager_) << error;
        connectBackend();
    }

    /// Creates a window and waits until the window manager manages it.
    WindowId managed(const std::string& options = {}, bool withActions = true) {
        const WindowId window = client_->create(options);
        EXPECT_NE(window, 0u) << options;
        EXPECT_TRUE(probe_->waitManaged(window, withActions))
            << "not managed: " << options << "; listed " << std::ranges::count(clients(), window) << ", state "
            << probe_->wmState(window).value_or(99) << ", desktop "
            << probe_->cardinals(window, "_NET_WM_DESKTOP").size() << ", actions "
            << probe_->cardinals(window, "_NET_WM_ALLOWED_ACTIONS").size();
        return window;
    }

    std::vector<WindowId> clients() { return probe_->clientList(); }

    /// Activates `window` and waits until it stays active: a window
    /// manager may still be focusing a window mapped just before.
    void activate(WindowId window) {
        auto since = std::chrono::steady_clock::now();
        bool asked = false;
        ASSERT_TRUE(waitUntil([&] {
            if (probe_->activeWindow() != window) {
                if (!asked || std::chrono::steady_clock::now() - since > 100ms) {
                    probe_->activate(window);
                    asked = true;
                }
                since = std::chrono::steady_clock::now();
                return false;
            }
            return std::chrono::steady_clock::now() - since > 200ms;
        })) << "not activated";
    }
};

TEST_P(WindowManagerTest, TrustsAnEwmhWindowManagerInOneRoundTrip) {
    EXPECT_TRUE(desktop_->isProcessTrusted());
    const auto before = desktop_->statistics().roundTrips;
    EXPECT_TRUE(desktop_->isProcessTrusted());
    EXPECT_TRUE(desktop_->isProcessTrustedWithOptions({.prompt = true}));
    EXPECT_EQ(desktop_->statistics().roundTrips - before, 2u);
}

TEST_P(WindowManagerTest, ListsAnApplicationsWindowsFrontToBack) {
    const WindowId a = managed("title=A");
    const WindowId b = managed("title=B");
    const WindowId c = managed("title=C");
    managed("pid=4401 title=other");
    // Raising B, then A, then C leaves C in front and B at the back.
    for (const WindowId window : {b, a, c}) {
        activate(window);
        probe_->raise(window);
    }
    const bool restacked = waitUntil(
        [&] {
            const auto stacking = probe_->cardinals(probe_->root(), "_NET_CLIENT_LIST_STACKING");
            return !stacking.empty() && stacking.back() == c;
        },
        2s);
    refresh();
    if (GetParam() == "fluxbox") {
        // Fluxbox publishes its stacking list in mapping order and never
        // restacks it: what it says is all there is to go by.
        std::vector<WindowId> published;
        for (const WindowId window : probe_->cardinals(probe_->root(), "_NET_CLIENT_LIST_STACKING")) {
            if (window == a || window == b || window == c) published.insert(published.begin(), window);
        }
        EXPECT_EQ(windowsOf(clientPid()), published);
    } else {
        ASSERT_TRUE(restacked) << "not raised";
        EXPECT_EQ(windowsOf(clientPid()), (std::vector<WindowId>{c, a, b}));
    }
}

TEST_P(WindowManagerTest, FrontmostIsTheOwnerOfTheActiveWindow) {
    const WindowId first = managed("pid=4001 class=First title=one");
    const WindowId second = managed("pid=4002 class=Second title=two");
    activate(first);

    const auto frontmost = desktop_->frontmostApplication();
    ASSERT_TRUE(frontmost);
    EXPECT_EQ(frontmost->processIdentifier, 4001);
    EXPECT_EQ(frontmost->localizedName, "First");

    const ax::Element app = desktop_->createApplication(4001);
    ax::Value focused;
    ASSERT_EQ(desktop_->copyAttributeValue(app, ax::kFocusedWindowAttribute, focused), ax::kSuccess);
    ASSERT_TRUE(focused.isElement());
    EXPECT_EQ(desktop_->hash(*focused.asElement()), first);
    EXPECT_TRUE(desktop_->equal(*focused.asElement(), elementOf(4001, first)));
    EXPECT_FALSE(desktop_->equal(*focused.asElement(), elementOf(4002, second)));

    ax::Value none;
    EXPECT_EQ(desktop_->copyAttributeValue(desktop_->createApplication(4002), ax::kFocusedWindowAttribute, none),
              ax::kNoValue);

    const auto candidates = snapshot(*desktop_);
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(candidates[0], (Candidate{first, 4001, "one", true}));
    EXPECT_EQ(candidates[1], (Candidate{second, 4002, "two", false}));
}

TEST_P(WindowManagerTest, RunningApplicationsAreTheLocalOwnersOfClients) {
    const WindowId anonymous = managed("pid=none class=Nameless title=anon");
    managed("pid=4101 class=Alpha");
    managed("pid=4101 class=Alpha");
    managed("pid=4102 class=Beta");
    const WindowId remote = client_->create("pid=4103 class=Remote machine=elsewhere.invalid");
    ASSERT_TRUE(probe_->waitManaged(remote));

    refresh();
    std::map<std::int32_t, workspace::RunningApplication> byPid;
    for (const auto& app : desktop_->runningApplications())
        byPid[app.processIdentifier] = app;
    ASSERT_TRUE(byPid.contains(4101));
    ASSERT_TRUE(byPid.contains(4102));
    EXPECT_FALSE(byPid.contains(4103)) << "a client of another host has no local process";
    EXPECT_EQ(byPid[4101].localizedName, "Alpha");
    EXPECT_EQ(byPid[4101].activationPolicy, workspace::ActivationPolicy::regular);
    EXPECT_FALSE(byPid[4101].isHidden);
    EXPECT_FALSE(byPid[4101].isTerminated);
    EXPECT_EQ(windowsOf(4101).size(), 2u);
    // Without a pid a window belongs to its connection's process.
    EXPECT_EQ(byPid[clientPid()].localizedName, "Nameless");
    EXPECT_EQ(windowsOf(clientPid()), (std::vector<WindowId>{anonymous}));
}

TEST_P(WindowManagerTest, ApplicationsWithOnlyDocksAreNotRegular) {
    managed("pid=4201 class=Panel type=dock", false);
    managed("pid=4202 class=Editor");
    const WindowId dock = managed("pid=4202 class=Editor type=dock", false);
    refresh();
    for (const auto& app : desktop_->runningApplications()) {
        if (app.processIdentifier == 4201) {
            EXPECT_EQ(app.activationPolicy, workspace::ActivationPolicy::accessory);
        }
        if (app.processIdentifier == 4202) {
            EXPECT_EQ(app.activationPolicy, workspace::ActivationPolicy::regular);
        }
    }
    EXPECT_TRUE(windowsOf(4201).empty());
    const auto editorWindows = windowsOf(4202);
    EXPECT_EQ(editorWindows.size(), 1u);
    EXPECT_EQ(std::count(editorWindows.begin(), editorWindows.end(), dock), 0);
}

TEST_P(WindowManagerTest, OnlyNormalTopLevelWindowsAreStandard) {
    const WindowId plain = managed("title=plain");
    const WindowId typed = managed("type=normal title=typed");
    const WindowId dialog = managed("type=dialog title=dialog", false);
    const WindowId transient = managed("transient=" + std::to_string(plain) + " title=transient", false);
    const WindowId utility = managed("type=utility title=utility", false);
    const WindowId splash = managed("type=splash title=splash", false);
    const WindowId offTaskbar = managed("state=skip_taskbar title=off", false);
    refresh();

    const std::map<WindowId, std::string> expected{
        {plain, "AXStandardWindow"},   {typed, "AXStandardWindow"}, {dialog, "AXDialog"},     {transient, "AXDialog"},
        {utility, "AXFloatingWindow"}, {splash, "AXUnknown"},       {offTaskbar, "AXUnknown"}};
    for (const auto& [window, subrole] : expected) {
        const ax::Element element = elementOf(clientPid(), window);
        ASSERT_TRUE(element) << "window " << window << " not listed";
        EXPECT_EQ(textOf(element, ax::kRoleAttribute), "AXWindow");
        EXPECT_EQ(textOf(element, ax::kSubroleAttribute), subrole) << textOf(element, ax::kTitleAttribute);
    }
    std::vector<WindowId> standard = idsOf(snapshot(*desktop_));
    std::sort(standard.begin(), standard.end());
    EXPECT_EQ(standard, (std::vector<WindowId>{std::min(plain, typed), std::max(plain, typed)}));
}

TEST_P(WindowManagerTest, MinimizingADestroyedWindowFails) {
    const WindowId window = managed("title=doomed");
    refresh();
    const ax::Element element = elementOf(clientPid(), window);
    ASSERT_TRUE(element);
    ASSERT_TRUE(client_->destroy(window));
    EXPECT_NE(desktop_->setAttributeValue(element, ax::kMinimizedAttribute, ax::Value::boolean(true)), ax::kSuccess);
    // The next snapshot no longer has it.
    ASSERT_TRUE(waitUntil([&] {
        const auto clients = probe_->clientList();
        return std::find(clients.begin(), clients.end(), window) == clients.end();
    }));
    EXPECT_TRUE(snapshot(*desktop_).empty());
}

TEST_P(WindowManagerTest, WindowsOnOtherDesktopsAreNotListed) {
    const WindowId here = managed("title=here");
    const WindowId away = managed("title=away");
    const WindowId everywhere = managed("title=everywhere");
    probe_->moveToDesktop(away, 1);
    probe_->moveToDesktop(everywhere, 0xFFFFFFFF);
    ASSERT_TRUE(waitUntil([&] {
        return probe_->cardinals(away, "_NET_WM_DESKTOP") == std::vector<std::uint32_t>{1} &&
               probe_->cardinals(everywhere, "_NET_WM_DESKTOP") == std::vector<std::uint32_t>{0xFFFFFFFF};
    }));
    refresh();
    auto listed = windowsOf(clientPid());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<WindowId>{std::min(here, everywhere), std::max(here, everywhere)}));

    probe_->switchToDesktop(1);
    ASSERT_TRUE(waitUntil([&] { return probe_->currentDesktop() == 1u; }));
    refresh();
    listed = windowsOf(clientPid());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<WindowId>{std::min(away, everywhere), std::max(away, everywhere)}));
}

TEST_P(WindowManagerTest, TitlesAreDecodedFromEitherNameProperty) {
    const WindowId utf8 = managed("netname=" + hex("Gr\xC3\xBC\xC3\x9F"
                                                   "e"));
    const WindowId latin1 = managed("wmname=" + hex("Caf\xE9"));
    const WindowId broken = managed("netname=" + hex("bad\xFF\xFEtitle") + " wmname=" + hex("ignored"));
    const WindowId compound = managed("wmnametype=COMPOUND_TEXT wmname=" + hex("\x1B%G\xE2\x82\xAC\x1B%@5"));
    const WindowId empty = managed("netname= wmname=" + hex("fallback"));
    const WindowId untitled = managed();
    refresh();
    const auto title = [&](WindowId window) { return textOf(elementOf(clientPid(), window), ax::kTitleAttribute); };
    EXPECT_EQ(title(utf8), "Gr\xC3\xBC\xC3\x9F"
                           "e");
    EXPECT_EQ(title(latin1), "Caf\xC3\xA9");
    EXPECT_EQ(title(broken), "bad\xEF\xBF\xBD\xEF\xBF\xBDtitle");
    EXPECT_EQ(title(compound), "\xE2\x82\xAC"
                               "5");
    EXPECT_EQ(title(empty), "") << "an empty _NET_WM_NAME is the title";
    ax::Value none;
    EXPECT_EQ(desktop_->copyAttributeValue(elementOf(clientPid(), untitled), ax::kTitleAttribute, none), ax::kNoValue);
}

TEST_P(WindowManagerTest, ASnapshotCostsTheSameRoundTripsForAnyNumberOfWindows) {
    const auto roundTripsOfSnapshot = [&] {
        const auto before = desktop_->statistics().roundTrips;
        snapshot(*desktop_);
        return desktop_->statistics().roundTrips - before;
    };
    for (int i = 0; i < 2; ++i)
        managed("pid=" + std::to_string(4300 + i));
    snapshot(*desktop_); // confirms the window manager once
    const auto few = roundTripsOfSnapshot();
    for (int i = 0; i < 20; ++i)
        managed("pid=" + std::to_string(4310 + i % 5));
    const auto many = roundTripsOfSnapshot();
    EXPECT_EQ(few, many);
    EXPECT_LE(many, 4u);
}

TEST_P(WindowManagerTest, ALostServerMakesEveryCallFailSoftly) {
    const WindowId window = managed("title=last");
    refresh();
    const ax::Element element = elementOf(clientPid(), window);
    ASSERT_TRUE(element);

    client_.reset();
    manager_.reset();
    server_->kill();
    EXPECT_FALSE(desktop_->isProcessTrusted());
    EXPECT_TRUE(desktop_->connectionLost());
    EXPECT_EQ(desktop_->frontmostApplication(), std::nullopt);
    EXPECT_TRUE(desktop_->runningApplications().empty());
    ax::Value value;
    EXPECT_NE(desktop_->copyAttributeValue(element, ax::kTitleAttribute, value), ax::kSuccess);
    EXPECT_TRUE(value.isNull());
    EXPECT_NE(desktop_->setAttributeValue(element, ax::kMinimizedAttribute, ax::Value::boolean(true)), ax::kSuccess);
    // Identity stays answerable: it needs no server.
    EXPECT_EQ(desktop_->hash(element), window);
}

INSTANTIATE_TEST_SUITE_P(X11, WindowManagerTest, ::testing::Values("openbox", "fluxbox"),
                         [](const auto& info) { return info.param; });

// --- with the test client as the window manager --------------------------------

/// Xvfb with no window manager: the test client sets whatever root and
/// window properties a test wants a window manager to have set.
class ScriptedManagerTest : public DisplayTest {
protected:
    void SetUp() override {
        startDisplay();
        if (IsSkipped() || HasFatalFailure()) return;
        connectBackend();
    }

    void run(const std::string& command) { ASSERT_TRUE(client_->command(command)) << command; }

    /// Announces a window manager supporting `hints` (comma-separated atom names).
    void announce(const std::string& hints = "_NET_CLIENT_LIST,_NET_CLIENT_LIST_STACKING,_NET_ACTIVE_WINDOW,"
                                             "_NET_WM_ALLOWED_ACTIONS,_NET_CURRENT_DESKTOP") {
        run("wmcheck");
        run("prop root _NET_SUPPORTED atoms " + hints);
        run("prop root _NET_CURRENT_DESKTOP cardinals 0");
    }

    /// A mapped window with the properties a window manager sets on managing.
    WindowId window(const std::string& options = {}, const std::string& actions = "_NET_WM_ACTION_MINIMIZE") {
        const WindowId id = client_->create(options);
        EXPECT_NE(id, 0u);
        const std::string name = std::to_string(id);
        run("prop " + name + " WM_STATE wmstate 1");
        run("prop " + name + " _NET_WM_DESKTOP cardinals 0");
        if (!actions.empty()) run("prop " + name + " _NET_WM_ALLOWED_ACTIONS atoms " + actions);
        return id;
    }

    void manage(const std::vector<WindowId>& bottomToTop, bool withStacking = true) {
        std::string list;
        for (const WindowId id : bottomToTop)
            list += (list.empty() ? "" : ",") + std::to_string(id);
        run("prop root _NET_CLIENT_LIST windows " + list);
        if (withStacking) run("prop root _NET_CLIENT_LIST_STACKING windows " + list);
    }
};

TEST_F(ScriptedManagerTest, TrustNeedsALiveWindowManagerWithTheNeededHints) {
    int prompts = 0;
    desktop_->setTrustPromptHandler([&] { ++prompts; });
    EXPECT_FALSE(desktop_->isProcessTrustedWithOptions({.prompt = false}));
    EXPECT_EQ(prompts, 0);
    EXPECT_FALSE(desktop_->isProcessTrustedWithOptions({.prompt = true}));
    EXPECT_EQ(prompts, 1);

    announce("_NET_CLIENT_LIST");
    EXPECT_FALSE(desktop_->isProcessTrusted()) << "no active window support";
    announce("_NET_ACTIVE_WINDOW");
    EXPECT_FALSE(desktop_->isProcessTrusted()) << "no client list support";
    announce("_NET_CLIENT_LIST,_NET_ACTIVE_WINDOW");
    EXPECT_TRUE(desktop_->isProcessTrustedWithOptions({.prompt = true}));
    EXPECT_EQ(prompts, 1) << "no prompt once trusted";

    // A window manager that died leaves the root naming a window that is gone.
    const auto check = probe_->cardinals(probe_->root(), "_NET_SUPPORTING_WM_CHECK");
    ASSERT_EQ(check.size(), 1u);
    run("destroy " + std::to_string(check[0]));
    EXPECT_FALSE(desktop_->isProcessTrusted());
    // A check window that does not name itself is no proof either.
    const WindowId impostor = client_->create("nomap");
    run("prop root _NET_SUPPORTING_WM_CHECK windows " + std::to_string(impostor));
    EXPECT_FALSE(desktop_->isProcessTrusted());
}

TEST_F(ScriptedManagerTest, AWindowGoneBeforeItsPropertiesAreReadIsLeftOut) {
    announce();
    const WindowId a = window("title=a");
    const WindowId gone = window("title=gone");
    const WindowId b = window("title=b");
    run("destroy " + std::to_string(gone));
    // As a window manager's list is just before it hears of the destruction.
    manage({a, gone, b});
    EXPECT_EQ(idsOf(snapshot(*desktop_)), (std::vector<WindowId>{b, a}));
    EXPECT_FALSE(desktop_->connectionLost());
}

TEST_F(ScriptedManagerTest, TheStackingListOrdersTheWindowsAndWithoutItNewestMappedComesFirst) {
    announce("_NET_CLIENT_LIST,_NET_ACTIVE_WINDOW,_NET_WM_ALLOWED_ACTIONS");
    const WindowId a = window();
    const WindowId b = window();
    const WindowId c = window();
    manage({a, b, c}, false);
    refresh();
    EXPECT_EQ(windowsOf(clientPid()), (std::vector<WindowId>{c, b, a}));

    announce();
    run("prop root _NET_CLIENT_LIST_STACKING windows " + std::to_string(b) + "," + std::to_string(c) + "," +
        std::to_string(a));
    refresh();
    EXPECT_EQ(windowsOf(clientPid()), (std::vector<WindowId>{a, c, b}));
}

TEST_F(ScriptedManagerTest, EitherIconicStateOrHiddenMeansMinimized) {
    announce();
    const WindowId shown = window();
    const WindowId iconic = window();
    const WindowId hidden = window("state=hidden");
    run("prop " + std::to_string(iconic) + " WM_STATE wmstate 3");
    manage({shown, iconic, hidden});
    refresh();
    EXPECT_EQ(minimizedOf(elementOf(clientPid(), shown)), false);
    EXPECT_EQ(minimizedOf(elementOf(clientPid(), iconic)), true);
    EXPECT_EQ(minimizedOf(elementOf(clientPid(), hidden)), true);
}

TEST_F(ScriptedManagerTest, SettableFollowsTheAllowedActionsOrWithoutThemTheKind) {
    announce();
    const WindowId allowed = window("title=allowed");
    const WindowId refused = window("title=refused", "_NET_WM_ACTION_MOVE,_NET_WM_ACTION_CLOSE");
    const WindowId unset = window("title=unset", "");
    manage({allowed, refused, unset});
    refresh();
    EXPECT_EQ(settableOf(elementOf(clientPid(), allowed)), true);
    EXPECT_EQ(settableOf(elementOf(clientPid(), refused)), false);
    EXPECT_EQ(settableOf(elementOf(clientPid(), unset)), false);

    // A window manager that publishes no allowed actions.
    announce("_NET_CLIENT_LIST,_NET_CLIENT_LIST_STACKING,_NET_ACTIVE_WINDOW,_NET_CURRENT_DESKTOP");
    const WindowId dialog = window("type=dialog title=dialog", "");
    manage({unset, dialog});
    refresh();
    EXPECT_EQ(settableOf(elementOf(clientPid(), unset)), true);
    EXPECT_EQ(settableOf(elementOf(clientPid(), dialog)), false);
}

TEST_F(ScriptedManagerTest, AnIgnoredIconifyRequestReportsFailure) {
    announce();
    const WindowId id = window("title=stubborn");
    manage({id});
    refresh();
    desktop_->setIconifyTimeout(std::chrono::milliseconds(30));
    const ax::Element element = elementOf(clientPid(), id);
    ASSERT_TRUE(element);
    EXPECT_NE(desktop_->setAttributeValue(element, ax::kMinimizedAttribute, ax::Value::boolean(true)), ax::kSuccess);
    EXPECT_EQ(probe_->wmState(id), 1u);

    // Other values are no minimize request.
    EXPECT_NE(desktop_->setAttributeValue(element, ax::kMinimizedAttribute, ax::Value::text("yes")), ax::kSuccess);
    EXPECT_NE(desktop_->setAttributeValue(element, ax::kTitleAttribute, ax::Value::text("x")), ax::kSuccess);
}

TEST_F(ScriptedManagerTest, HostilePropertiesAreReadSafely) {
    announce();
    const WindowId id = window("title=x");
    const std::string name = std::to_string(id);
    run("prop " + name + " _NET_WM_PID bytes CARDINAL 0102");     // format 8, not a pid
    run("prop " + name + " _NET_WM_WINDOW_TYPE cardinals 7,8,9"); // not atoms
    run("prop " + name + " WM_STATE cardinals 3");                // wrong type
    run("prop " + name + " _NET_WM_NAME bytes UTF8_STRING " + hex(std::string(20000, '\xFF')));
    run("prop root _NET_ACTIVE_WINDOW cardinals " + name); // not a WINDOW
    manage({id, 0, id, 0xFFFFFF});
    refresh();
    // The pid falls back to the server's answer; the rest to defaults.
    const ax::Element element = elementOf(clientPid(), id);
    ASSERT_TRUE(element);
    EXPECT_EQ(textOf(element, ax::kSubroleAttribute), "AXStandardWindow");
    EXPECT_EQ(minimizedOf(element), false);
    const std::string title = textOf(element, ax::kTitleAttribute);
    EXPECT_LE(title.size(), kMaxTextBytes);
    EXPECT_EQ(repairUtf8(title), title);
    EXPECT_EQ(desktop_->frontmostApplication(), std::nullopt);
}

TEST_F(ScriptedManagerTest, RegularURLsGoToXdgOpenAndOthersToTheHandler) {
    // A stand-in xdg-open on PATH records what it is asked to open.
    char directory[] = "/tmp/quellan-open-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string script = std::string(directory) + "/xdg-open";
    const std::string record = std::string(directory) + "/opened";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << record << "'\n";
    }
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (std::string(directory) + ":" + oldPath).c_str(), 1);

    std::vector<std::string> handled;
    desktop_->setAddressHandler([&](std::string_view address) {
        handled.emplace_back(address);
        return true;
    });
    EXPECT_TRUE(desktop_->openURL("https://example.org/help?q=1;x=$(id)"));
    EXPECT_TRUE(desktop_->openURL("x-quellan-settings:accessibility"));
    const auto recorded = [&] {
        std::ifstream in(record);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_TRUE(waitUntil([&] { return recorded().ends_with("\n"); }));
    setenv("PATH", oldPath.c_str(), 1);

    EXPECT_EQ(recorded(), "https://example.org/help?q=1;x=$(id)\n") << "one argument, no shell";
    EXPECT_EQ(handled, (std::vector<std::string>{"x-quellan-settings:accessibility"}));
    std::filesystem::remove_all(directory);

    desktop_->setAddressHandler(nullptr);
    EXPECT_FALSE(desktop_->openURL("not a url"));
    EXPECT_EQ(desktop_->processIdentifier(), getpid());
}

// --- without any display --------------------------------------------------------

TEST(X11Connection, AMissingDisplayIsAnErrorText) {
    const ConnectResult result = X11Desktop::connect(":65000");
    EXPECT_EQ(result.desktop, nullptr);
    EXPECT_NE(result.error.find("cannot open display"), std::string::npos) << result.error;
    EXPECT_NE(result.error.find(":65000"), std::string::npos) << result.error;

    const ConnectResult malformed = X11Desktop::connect("no-such-host-really.invalid:0");
    EXPECT_EQ(malformed.desktop, nullptr);
    EXPECT_FALSE(malformed.error.empty());
}

TEST(X11Connection, RegularURLs) {
    EXPECT_TRUE(isRegularURL("https://example.org/"));
    EXPECT_TRUE(isRegularURL("HTTP://example.org/"));
    EXPECT_TRUE(isRegularURL("mailto:someone@example.org"));
    EXPECT_TRUE(isRegularURL("file:///tmp/x"));
    EXPECT_FALSE(isRegularURL("x-settings:privacy"));
    EXPECT_FALSE(isRegularURL("https:"));
    EXPECT_FALSE(isRegularURL("-https://example.org"));
    EXPECT_FALSE(isRegularURL("https://example.org/a b"));
    EXPECT_FALSE(isRegularURL(std::string_view("https://x\0y", 11)));
    EXPECT_FALSE(isRegularURL(""));
}

} // namespace
} // namespace quellan::x11
