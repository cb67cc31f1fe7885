// The order the focus moved in between two looks at the desktop. A window
// is in use from when it takes the focus until it loses it, so both ends
// are logged: a window that held the focus through a long quiet spell and
// then gave it to something never counted (a tool window, the desktop)
// counts as used until that moment, not until the last look.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quellan::platform {

class FocusLog {
public:
    using WindowKey = std::uint64_t;
    struct Entry {
        WindowKey window = 0;
        /// Wall-clock seconds: when the window took or left the focus.
        double instant = 0;
    };
    /// Kept between two looks; a look needs only the last few.
    static constexpr std::size_t kMaxEntries = 64;

    /// `window` took the focus at `instant`; the one that held it was used until then.
    void gained(WindowKey window, double instant);
    /// The focus went to no window that is told (the desktop, or none).
    void lost(double instant);
    /// What was logged since the last call, in the order it happened.
    std::vector<Entry> take();
    bool empty() const { return entries_.empty(); }

private:
    void add(WindowKey window, double instant);

    std::optional<WindowKey> holder_;
    std::vector<Entry> entries_;
};

} // namespace quellan::platform
