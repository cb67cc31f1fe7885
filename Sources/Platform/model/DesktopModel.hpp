// The desktop as an event-fed backend last heard it, and the answers the
// platform layer asks for. A backend (X11, Wayland) only translates its
// protocol's events into this model and sends the requests it makes; the
// model keeps the windows and applications, the order the focus moved in,
// the minimize requests sent and what their answers teach, whether anything
// is left to read, and who is told of changes.
//
// What it answers:
// - Applications: those owning a window the backend shows, regular when
//   any of them is not part of the desktop itself (docks, backgrounds),
//   named by the first of their windows (front to back) that names them,
//   else by /proc; "AXWindows" lists their windows on the desktop shown,
//   front to back, parts of the desktop left out. An application that owns
//   no window is unknown (`kCannotComplete`).
// - Frontmost: the owner of the focused window; its "AXFocusedWindow" is it.
// - "AXRole" "AXWindow"; "AXSubrole" by the window's kind; "AXTitle";
//   "AXMinimized", true also while a request to minimize it is unanswered:
//   it is on its way, so it is neither counted against the limit nor chosen
//   again, however late the desktop is. Settable while the window can be
//   minimized and the desktop is not taken to refuse.
// - Minimizing (setting "AXMinimized" to true): never the focused window,
//   and nothing while the desktop has not read what an earlier look asked
//   (what it will focus meanwhile is unknown); the request is sent without
//   waiting, and a ping after it tells when the desktop has read it (see
//   `MinimizeRequests`). A desktop learned to refuse is said once.
// - Settled: nothing left to read, no focus change to take, no request
//   unanswered (one left undone makes its window count again, which no
//   event tells).
#pragma once

#include "Platform/Platform.hpp"
#include "Platform/model/ElementTable.hpp"
#include "Platform/model/FocusLog.hpp"
#include "Platform/model/MinimizeRequests.hpp"
#include "Platform/model/WindowKind.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace quellan::platform {

class DesktopModel final : public ax::AccessibilityBackend, public workspace::WorkspaceBackend {
public:
    using Key = std::uint64_t;
    using SteadyClock = std::chrono::steady_clock;

    /// One window as the backend last knew it.
    struct Window {
        Key key = 0;
        /// The process id of its application (or a number the backend gives it).
        std::int32_t application = 0;
        WindowKind kind = WindowKind::standard;
        bool minimized = false;
        bool minimizable = false;
        /// On the desktop shown (or on all of them).
        bool shown = true;
        std::optional<std::string> title;
        /// What the window calls its application, if it says.
        std::optional<std::string> applicationName;
        /// From the bottom of the stacking order, where the desktop tells it.
        std::optional<std::uint64_t> stackingPosition;
        /// When it last became one that may count (wall-clock seconds).
        std::optional<double> appearedAt;
    };

    /// What the model asks of the backend that feeds it. Called on the main thread.
    class Feed {
    public:
        virtual ~Feed() = default;
        /// Whether windows can be read and minimized here at all.
        virtual bool trusted() = 0;
        /// Handles what has arrived from the desktop, never waiting for more.
        virtual void readArrived() = 0;
        /// Brings the model up to date (`show`), reading what changed.
        virtual void refresh() = 0;
        /// Whether `window` may still be asked to minimize now (it may have
        /// changed since the model last showed it), the focus aside.
        virtual bool mayMinimize(Key window) = 0;
        /// Sends the request to minimize `window`; false when it could not go.
        virtual bool sendMinimize(Key window) = 0;
        /// Sends a ping after the requests (`pingRequests`); `requestsRead` once it comes back.
        virtual void sendPing() = 0;
        /// Nothing has arrived, or is left to read, that the model does not show.
        virtual bool settled() = 0;
        /// The connection to the desktop broke: every call fails softly.
        virtual bool lost() const = 0;
    };

    /// `refusalNotice` is what a person is told once the desktop is learned to refuse.
    DesktopModel(Feed& feed, std::string refusalNotice,
                 std::function<SteadyClock::time_point()> steadyNow = SteadyClock::now);
    DesktopModel(const DesktopModel&) = delete;
    DesktopModel& operator=(const DesktopModel&) = delete;

    // --- fed by the backend ----------------------------------------------
    /// Replaces the windows, front to back.
    void show(std::vector<Window> frontToBack);
    const Window* window(Key key) const;
    /// The window that has the focus, as the desktop last told it.
    void setFocused(std::optional<Key> window) { focused_ = window; }
    std::optional<Key> focused() const { return focused_; }
    /// Logs the focus moving, in the order it happened.
    FocusLog& focusLog() { return focusLog_; }
    /// The focus went to `window` (none: to no window told) at `instant`,
    /// both noted and logged; the same window again changes nothing.
    void moveFocus(std::optional<Key> window, double instant);
    MinimizeRequests& requests() { return requests_; }
    /// Pings the desktop: once the answer comes (`requestsRead`), every request before was read.
    void pingRequests();
    /// The ping sent after the requests came back.
    void requestsRead();
    /// Settles the requests against the windows shown now; says a refusal once.
    void settleRequests();
    /// Tells the observer of a change, if there is one.
    void tellChange();
    bool observed() const { return static_cast<bool>(changeHandler_); }
    /// The wall clock of the installed backends, in seconds.
    static double wallNow();
    /// The application a window belongs to: its process where the desktop
    /// names one, else a number of its own for each `appId` (its app id or
    /// class), above any process id, so the two never meet. Quellan's own
    /// app id ("quellan") is its own process, which the window source leaves out.
    std::int32_t applicationFor(std::optional<std::int32_t> processIdentifier, const std::string& appId);
    /// Tells the person `text`, through the notice handler.
    void tell(const std::string& text) const {
        if (noticeHandler_) noticeHandler_(text);
    }

    // --- what the program sets -------------------------------------------
    /// Called by a prompting trust check that finds trust missing.
    void setTrustPromptHandler(std::function<void()> handler) { trustPromptHandler_ = std::move(handler); }
    /// Opens the addresses the program asks to open (its settings pane).
    void setAddressHandler(std::function<bool(std::string_view)> handler) { addressHandler_ = std::move(handler); }
    /// Told, once, what a person should know: that the desktop does not minimize windows.
    void setNoticeHandler(std::function<void(const std::string&)> handler) { noticeHandler_ = std::move(handler); }
    std::size_t liveElements() const { return elements_.size(); }

    // --- backend interfaces ----------------------------------------------
    bool isProcessTrusted() override;
    bool isProcessTrustedWithOptions(const ax::TrustCheckOptions& options) override;
    void beginLook() override;
    ax::Element createApplication(std::int32_t processIdentifier) override;
    ax::Error copyAttributeValue(const ax::Element& element, std::string_view attribute, ax::Value& value) override;
    ax::Error isAttributeSettable(const ax::Element& element, std::string_view attribute, bool& settable) override;
    ax::Error setAttributeValue(const ax::Element& element, std::string_view attribute,
                                const ax::Value& value) override;
    bool equal(const ax::Element& a, const ax::Element& b) override { return elements_.equal(a, b); }
    std::uint64_t hash(const ax::Element& element) override { return elements_.hash(element); }
    std::vector<ax::FocusChange> takeFocusChanges() override;
    std::optional<std::uint64_t> stackingPosition(const ax::Element& element) override;
    std::optional<double> appearedAt(const ax::Element& element) override;
    bool observeDesktopChanges(std::function<void()> onChange) override;
    bool desktopSettled() override;
    void retain(ax::Token token) noexcept override { elements_.retain(token); }
    void release(ax::Token token) noexcept override { elements_.release(token); }

    std::optional<workspace::RunningApplication> frontmostApplication() override;
    std::vector<workspace::RunningApplication> runningApplications() override;
    bool openURL(std::string_view url) override { return addressHandler_ && addressHandler_(url); }
    std::int32_t processIdentifier() override;

private:
    struct Application {
        std::optional<std::string> name;
        bool regular = false;
        /// Its windows on the desktop shown, front to back.
        std::vector<Key> windows;
    };

    SteadyClock::time_point steadyNow() const { return steadyNow_(); }
    /// The model as of the look under way; brought up to date first if it never was.
    void ensureShown();
    const Window* windowOf(const ax::Element& element);
    ax::Error minimize(Key window);
    workspace::RunningApplication describe(std::int32_t processIdentifier, const Application& application) const;

    Feed& feed_;
    std::string refusalNotice_;
    std::function<SteadyClock::time_point()> steadyNow_;
    bool shown_ = false;
    std::unordered_map<Key, Window> windows_;
    std::map<std::int32_t, Application> applications_;
    std::optional<Key> focused_;
    FocusLog focusLog_;
    MinimizeRequests requests_;
    std::uint64_t looks_ = 0;
    ax::ElementTable elements_{this};
    std::function<void()> changeHandler_;
    std::function<void()> trustPromptHandler_;
    std::function<bool(std::string_view)> addressHandler_;
    std::function<void(const std::string&)> noticeHandler_;
    std::unordered_map<std::string, std::int32_t> applicationByAppId_;
    /// Above any pid: Linux hands out at most 2^22.
    std::int32_t nextSyntheticApplication_ = 1 << 30;
};

} // namespace quellan::platform
