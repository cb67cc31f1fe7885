// The window records one scan works with, and where they come from.
#pragma once

#include "Platform/Accessibility.hpp"
#include "Platform/Workspace.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace quellan {

/// One visible, minimizable standard window of a regular application.
/// Copies share the window's element through counted references.
struct ManagedWindow {
    /// "<process id>:<element hash>", see `windowIdentifier`.
    std::string id;
    ax::Element element;
    /// "Unknown App" when the application reports no name.
    std::string applicationName;
    /// The window's title as given, empty included; "Untitled Window" when unreadable.
    std::string title;
    /// Where the platform tells it, the window's place in the stacking
    /// order, bottom first. It ranks windows first seen in one scan, which
    /// the list's order would rank by application and process id.
    std::optional<std::uint64_t> stackingPosition;
    /// Where the platform tells it, when the window last became one to
    /// count (wall clock): a window seen late, after a stall, keeps its
    /// place among what happened meanwhile.
    std::optional<double> appearedAt;
};

/// A window that had the focus for a while since the previous snapshot.
struct FocusedWindow {
    std::string id;
    /// Wall-clock seconds, as `clock::now()`.
    double instant = 0;
};

/// One snapshot of the desktop: the candidate windows, grouped by
/// application in ascending process id and in each application's own
/// order, and which of them is focused in the frontmost application.
struct WindowSnapshot {
    std::vector<ManagedWindow> windows;
    /// When present, the `id` of one of `windows`.
    std::optional<std::string> currentWindowID;
    /// Windows of `windows` focused since the previous snapshot, oldest
    /// first: a focus too short for a scan to see still counts. Empty when
    /// the source cannot observe the focus between snapshots.
    std::vector<FocusedWindow> focusedSinceLastSnapshot;
    /// Applications left out because they are not answering: their windows
    /// are unknown for now, not gone.
    std::vector<std::int32_t> unansweredProcessIdentifiers;
};

/// The identifier the monitor remembers a window by across scans: the
/// process id in signed decimal, ":", the element hash in unsigned decimal.
std::string windowIdentifier(std::int32_t processIdentifier, std::uint64_t elementHash);

/// Anything that can take a snapshot of the desktop. The monitor sees the
/// desktop only through this, so tests can hand it scripted snapshots.
class WindowSource {
public:
    virtual ~WindowSource() = default;
    virtual WindowSnapshot snapshot() = 0;
    /// Where the desktop tells of its changes: keeps `onChange` (empty: none)
    /// and calls it, possibly inside another call, whenever a snapshot may
    /// differ from the last one. False where it cannot tell.
    virtual bool observeChanges(std::function<void()> /*onChange*/) { return false; }
    /// True when a snapshot taken now could differ from the last one only by
    /// what `onChange` will announce, so that nobody need look meanwhile.
    virtual bool settled() { return false; }
};

/// The live desktop through the accessibility interface: the visible,
/// minimizable standard windows of the regular applications other than this
/// program, and the focused one of the frontmost application.
///
/// No element is kept between snapshots: each one makes its elements afresh
/// and releases them before it returns, except the window elements handed
/// out in the records. A read that fails only makes the result smaller.
///
/// An application that lets a call run into the messaging timeout is hung
/// or busy, and every call to it would cost the main thread that long. It
/// is dropped from that snapshot at once and left out of the following ones
/// for a pause, 5 s at first and doubling up to 80 s while it stays silent,
/// so that it costs under 0.1 s a second; it is listed again as soon as it
/// answers. Main thread only.
class AccessibilityWindowSource final : public WindowSource {
public:
    /// Takes the program's own process id, once.
    AccessibilityWindowSource();

    WindowSnapshot snapshot() override;
    bool observeChanges(std::function<void()> onChange) override;
    /// Also unsettled while an application is paused: only asking tells when it answers.
    bool settled() override;

private:
    struct Pause {
        /// Wall-clock seconds.
        double retryAt = 0;
        double length = 0;
    };

    /// Adds the application's windows; false when it did not answer, and
    /// then nothing of it is added.
    bool readApplication(const workspace::RunningApplication& application, bool frontmost,
                         WindowSnapshot& snapshot) const;

    const std::int32_t ownProcessIdentifier_;
    std::unordered_map<std::int32_t, Pause> pauses_;
};

} // namespace quellan
