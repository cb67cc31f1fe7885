// The accessibility and workspace backends on GNOME Shell under Wayland,
// which lets no program list or minimize another's windows. Quellan's own
// Shell extension (uuid `kExtensionUuid`) runs inside the shell and offers
// its window list to the Quellan program alone, over the session bus
// (extensions/gnome/org.quellan.GnomeShell.Windows.xml).
//
// How GNOME maps onto the accessibility model:
// - Trust: the extension answers. Without it (not installed, disabled, or
//   the shell not yet started) nothing is known; `accessHelp` says what to
//   do, and the extension is picked up the moment its name appears on the
//   bus. An extension that refuses this program (it answers only the
//   installed `quellan`) is said too.
// - Applications: by process id, or for a window whose process the shell
//   does not know, by its window class. Named by the window class.
// - "AXWindows": front to back by the shell's stacking order; windows on
//   another workspace are out of sight, as elsewhere.
// - "AXSubrole" and what counts: as the extension sorts the shell's window
//   types (dialogs and transients, utility windows, splash screens and
//   windows kept off the taskbar, docks and desktops).
// - Minimizing: the request goes without waiting, and a Ping after it,
//   answered only once the shell has sent every change made before it,
//   tells when it was read (as on X11 and Wayland).
// - Focus changes: every focus move the extension reports, in order,
//   stamped with the installed clock as they arrive; windows first seen
//   after the start are stamped when they came into sight.
// - Changes: the extension's Changed signals, numbered, so that one missed
//   (it went to a name no longer ours) makes the backend read everything again.
// - The extension is asked through org.gnome.Shell, whose owner is the shell
//   itself, so a program that takes the extension's name first is never
//   asked or believed.
// Every call is asynchronous: a shell that does not answer never holds up
// the main thread; what it has not answered is simply not known yet.
#pragma once

#include "Platform/Platform.hpp"
#include "Platform/model/DesktopModel.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quellan::gnome {

/// The uuid Quellan's Shell extension is installed and enabled under.
inline constexpr const char* kExtensionUuid = "quellan@quellan.org";

class GnomeDesktop final : private platform::DesktopModel::Feed {
public:
    /// Where the extension stands, as last heard.
    enum class Extension {
        unknown, ///< not asked yet, or asked and no answer yet
        absent,  ///< not installed, not enabled, or no session bus
        refused, ///< it answers only another program (the installed one)
        ready,   ///< its windows are known
    };

    /// Starts listening for the extension on the session bus. Needs the Qt
    /// application (the framework) to exist; answers arrive on its event loop.
    GnomeDesktop();
    ~GnomeDesktop() override;
    GnomeDesktop(const GnomeDesktop&) = delete;
    GnomeDesktop& operator=(const GnomeDesktop&) = delete;

    platform::Backends backends() {
        return platform::Backends{.accessibility = &model_, .workspace = &model_, .clock = &clock::systemClock()};
    }
    /// The model this backend feeds; its handlers (trust prompt, addresses, notices) are set there.
    platform::DesktopModel& model() { return model_; }
    /// What a person must do for Quellan to see windows here, as things stand.
    std::string accessHelp() const;
    /// Says what is missing (`accessHelp`) through the model's notice
    /// handler, once the shell has answered whether anything is: a start
    /// that comes before the answer is not told of an extension that turns
    /// out to be there. Said by itself at the start and whenever the
    /// extension goes away, as GNOME may show no icon to ask from.
    void explainAccess();

    /// For the D-Bus side only.
    struct Bus;

private:
    // --- what the model asks (the feed) ----------------------------------
    bool trusted() override { return extension_ == Extension::ready; }
    void readArrived() override {}
    void refresh() override {}
    bool mayMinimize(platform::DesktopModel::Key key) override;
    bool sendMinimize(platform::DesktopModel::Key key) override;
    void sendPing() override;
    bool settled() override;
    bool lost() const override { return extension_ != Extension::ready; }

    friend struct Bus;
    Extension extension_ = Extension::unknown;
    std::optional<std::pair<Extension, std::chrono::steady_clock::time_point>> explained_;
    platform::DesktopModel model_;
    std::unique_ptr<Bus> bus_;
};

} // namespace quellan::gnome
