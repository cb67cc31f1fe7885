// The shell's windows as Quellan's Shell extension has described them, kept
// from its numbered messages and shown to the desktop model. Free of D-Bus,
// so what the messages mean is tested without a shell.
#pragma once

#include "Platform/model/DesktopModel.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace quellan::gnome {

class ShellWindows {
public:
    /// One window as the extension sends it.
    struct Window {
        std::uint64_t id = 0;
        std::int32_t pid = 0; // 0: unknown
        std::string windowClass, title;
        std::uint32_t kind = 0; // a platform::WindowKind; anything else is never listed
        bool minimized = false, minimizable = false, shown = false;
    };
    /// What changed, as one Changed message says it.
    struct Change {
        std::uint32_t serial = 0;
        std::vector<Window> windows{};
        std::vector<std::uint64_t> closed{};
        std::vector<std::uint64_t> stacking{}; // bottom first
        std::vector<std::uint64_t> focus{};    // in order; 0: none
    };

    explicit ShellWindows(platform::DesktopModel& model) : model_(model) {}

    /// Everything, as GetWindows answers: replaces what was known. The first
    /// since `forget` is the desktop as Quellan found it: no window in it
    /// has come into sight since.
    void replace(std::uint32_t serial, std::vector<Window> windows, std::vector<std::uint64_t> stacking,
                 std::uint64_t focused);
    /// Applies a change that follows the last one taken; false (and nothing
    /// applied) when it does not follow, so everything must be read again.
    /// A change already contained in what is known is ignored.
    bool apply(Change change);
    /// The extension went: nothing is known any more.
    void forget();
    bool has(std::uint64_t id) const { return windows_.contains(id); }

private:
    struct Kept {
        Window window;
        /// When it last came into sight (on the workspace shown, not minimized).
        std::optional<double> appearedAt;
    };
    void take(Window window);
    void focus(std::uint64_t id);
    void close(std::uint64_t id);
    /// Shows the model the windows, front to back.
    void show();

    platform::DesktopModel& model_;
    bool known_ = false;
    std::uint32_t serial_ = 0;
    std::unordered_map<std::uint64_t, Kept> windows_;
    std::vector<std::uint64_t> stacking_;
};

} // namespace quellan::gnome
