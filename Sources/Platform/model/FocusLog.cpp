#include "Platform/model/FocusLog.hpp"

#include <algorithm>
#include <utility>

namespace quellan::platform {

void FocusLog::add(WindowKey window, double instant) {
    if (entries_.size() == kMaxEntries) entries_.erase(entries_.begin());
    // Instants come from several readings; the log keeps the order they happened in.
    if (!entries_.empty()) instant = std::max(instant, entries_.back().instant);
    entries_.push_back({window, instant});
}

void FocusLog::gained(WindowKey window, double instant) {
    if (holder_ == window) return;
    if (holder_) add(*holder_, instant);
    add(window, instant);
    holder_ = window;
}

void FocusLog::lost(double instant) {
    if (holder_) add(*holder_, instant);
    holder_.reset();
}

std::vector<FocusLog::Entry> FocusLog::take() { return std::exchange(entries_, {}); }

} // namespace quellan::platform
