// A scriptable desktop behind the accessibility, workspace and clock
// interfaces: applications and windows with every attribute, injectable
// failures, a manual clock, a call log and live-element accounting.
#pragma once

#include "Platform/Platform.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace quellan::simulated {

using WindowID = std::int64_t;

/// Stands for the element of a window when a read yields one.
struct WindowRef {
    WindowID window = 0;
};

/// What an attribute read yields, before elements are made for it.
using Scripted = std::variant<std::monostate, std::string, bool, double, WindowRef>;

/// One scripted attribute read: the code, and on success the value.
struct Read {
    ax::Error error = ax::kSuccess;
    Scripted value;
};

struct SimWindow {
    WindowID id = 0;
    std::int32_t processIdentifier = 0;
    Read role{ax::kSuccess, std::string(ax::kWindowRole)};
    Read subrole{ax::kSuccess, std::string(ax::kStandardWindowSubrole)};
    Read minimized{ax::kSuccess, false};
    Read title;
    ax::Error settableError = ax::kSuccess;
    bool settable = true;
    /// The code a request to minimize answers with; 0 minimizes the window.
    ax::Error minimizeResult = ax::kSuccess;
    std::uint64_t hash = 0;
    /// Counted from the bottom of the stacking order; none: the desktop cannot tell.
    std::optional<std::uint64_t> stackingPosition;
    /// When it became one that may count; none: the desktop cannot tell.
    std::optional<double> appearedAt;
};

struct SimApplication {
    workspace::RunningApplication info;
    /// The application's windows, front to back, as "AXWindows" lists them.
    std::vector<WindowID> windows;
    std::optional<WindowID> focusedWindow;
    /// Replaces the "AXFocusedWindow" read that `focusedWindow` implies.
    std::optional<Read> focusedWindowRead;
    ax::Error windowsError = ax::kSuccess;
    /// Replaces the "AXWindows" list with a single value (null, text, ...).
    std::optional<Scripted> windowsReplacement;
    /// Further entries appended to the "AXWindows" list, of any kind.
    std::vector<Scripted> windowsExtras;
    /// Hung: every call to the application or its windows takes the whole
    /// messaging timeout on the clock and then fails.
    bool hangs = false;
};

/// How often each platform call was made.
struct CallCounts {
    int isProcessTrusted = 0;
    int trustPrompt = 0;
    int frontmostApplication = 0;
    int runningApplications = 0;
    int createApplication = 0;
    int copyAttributeValue = 0;
    int isAttributeSettable = 0;
    int setAttributeValue = 0;
    int equal = 0;
    int hash = 0;
    int openURL = 0;
    int processIdentifier = 0;
    int clockReads = 0;
};

using ax::kInvalidElement;

class SimulatedDesktop final : public ax::AccessibilityBackend,
                               public workspace::WorkspaceBackend,
                               public clock::ClockBackend {
public:
    SimulatedDesktop();
    ~SimulatedDesktop() override;
    SimulatedDesktop(const SimulatedDesktop&) = delete;
    SimulatedDesktop& operator=(const SimulatedDesktop&) = delete;

    // --- scripting -------------------------------------------------------
    bool trusted = true;
    std::int32_t ownProcessIdentifier = 4242;
    std::optional<std::int32_t> frontmostProcessIdentifier;
    /// The wall clock's reading.
    clock::Instant time = 1'800'000'000.0;
    bool openURLResult = true;
    /// When set, a trust prompt grants trust at once.
    bool promptGrantsTrust = false;
    /// Whether focus changes are kept for `takeFocusChanges`, as a desktop
    /// that reports them as they happen would.
    bool reportsFocusChanges = false;
    /// Whether the desktop tells of its changes; it tells only when the test
    /// says (`announceChange`), and is settled while `settled` is.
    bool tellsChanges = false;
    bool settled = true;
    void announceChange() {
        if (changeHandler_) changeHandler_();
    }

    SimApplication& addApplication(std::int32_t processIdentifier, std::optional<std::string> name);
    /// Adds a standard window at the back of the application's window list.
    SimWindow& addWindow(std::int32_t processIdentifier, std::string title);
    SimApplication& application(std::int32_t processIdentifier);
    SimWindow& window(WindowID id);
    bool hasWindow(WindowID id) const { return windows_.contains(id); }
    /// The running-applications list, in the order the workspace reports it.
    std::vector<SimApplication>& applications() { return applications_; }
    void removeWindow(WindowID id);
    void removeApplication(std::int32_t processIdentifier);
    /// Focuses `id` and makes its application frontmost.
    void focus(WindowID id);
    void advance(double seconds) { time += seconds; }

    /// A fresh element for a window, as a read would hand out.
    ax::Element makeWindowElement(WindowID id);

    /// The accessibility, workspace and clock backends this desktop serves.
    platform::Backends backends();

    // --- observation -----------------------------------------------------
    bool logCalls = true;
    /// Runs as each call is made, with its log entry, before it is answered:
    /// lets a test change the desktop in the middle of a snapshot.
    std::function<void(const std::string& call)> onCall;
    const std::vector<std::string>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }
    const CallCounts& counts() const { return counts_; }
    void resetCounts() { counts_ = {}; }
    /// Windows minimized through the interface, in order.
    const std::vector<WindowID>& minimizedWindows() const { return minimized_; }
    const std::vector<std::string>& openedURLs() const { return openedURLs_; }
    /// Clock time spent waiting on hung applications.
    double waitedSeconds() const { return waited_; }

    std::size_t liveElements() const { return elements_.size(); }
    std::size_t elementsCreated() const { return created_; }
    /// Releases of dead elements, retains of dead elements, calls on them.
    const std::vector<std::string>& accountingErrors() const { return accountingErrors_; }

    // --- backend interfaces ----------------------------------------------
    bool isProcessTrusted() override;
    bool isProcessTrustedWithOptions(const ax::TrustCheckOptions& options) override;
    ax::Element createApplication(std::int32_t processIdentifier) override;
    ax::Error copyAttributeValue(const ax::Element& element, std::string_view attribute, ax::Value& value) override;
    ax::Error isAttributeSettable(const ax::Element& element, std::string_view attribute, bool& settable) override;
    ax::Error setAttributeValue(const ax::Element& element, std::string_view attribute,
                                const ax::Value& value) override;
    bool equal(const ax::Element& a, const ax::Element& b) override;
    std::uint64_t hash(const ax::Element& element) override;
    std::vector<ax::FocusChange> takeFocusChanges() override;
    std::optional<std::uint64_t> stackingPosition(const ax::Element& element) override;
    std::optional<double> appearedAt(const ax::Element& element) override;
    bool observeDesktopChanges(std::function<void()> onChange) override {
        changeHandler_ = tellsChanges ? std::move(onChange) : nullptr;
        return tellsChanges;
    }
    bool desktopSettled() override { return settled; }
    void retain(ax::Token token) noexcept override;
    void release(ax::Token token) noexcept override;

    std::optional<workspace::RunningApplication> frontmostApplication() override;
    std::vector<workspace::RunningApplication> runningApplications() override;
    bool openURL(std::string_view url) override;
    std::int32_t processIdentifier() override;

    clock::Instant now() override;

private:
    std::function<void()> changeHandler_;
    struct ElementObject {
        bool isApplication = false;
        std::int32_t processIdentifier = 0;
        WindowID window = 0;
        int references = 1;
    };

    ax::Element newElement(ElementObject object);
    const ElementObject* objectFor(const ax::Element& element, const char* call);
    SimApplication* findApplication(std::int32_t processIdentifier);
    ax::Value materialize(const Scripted& scripted);
    ax::Error deliver(const Read& read, ax::Value& value);
    /// Waits out the timeout when the object's application hangs.
    bool timesOut(const ElementObject& object);
    void log(std::string entry);
    std::string describe(const ElementObject& object) const;

    std::vector<SimApplication> applications_;
    std::map<WindowID, SimWindow> windows_;
    WindowID nextWindow_ = 1;
    std::unordered_map<ax::Token, ElementObject> elements_;
    ax::Token nextToken_ = 1;
    std::size_t created_ = 0;
    std::vector<std::string> calls_;
    CallCounts counts_;
    std::vector<WindowID> minimized_;
    std::vector<std::pair<WindowID, clock::Instant>> focusChanges_;
    std::vector<std::string> openedURLs_;
    std::vector<std::string> accountingErrors_;
    double waited_ = 0;
};

} // namespace quellan::simulated
