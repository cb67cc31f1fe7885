#include "QuellanCore/WindowLimitPolicy.hpp"

#include "Sorting/StableMergeSort.hpp"

#include <algorithm>
#include <cstddef>

namespace quellan::WindowLimitPolicy {
namespace {

bool comesBefore(const WindowActivity* a, const WindowActivity* b) {
    if (a->lastTouched < b->lastTouched) return true;
    return a->lastTouched == b->lastTouched && a->id < b->id;
}

// Orders pointers into the caller's list: the list itself is never changed
// and the records are not copied. The merge sort also stays safe if a
// caller passes a not-a-number instant, which no strict weak order allows.
std::vector<std::string> idsInActivityOrder(std::vector<const WindowActivity*> chosen, std::size_t count) {
    stableMergeSort(chosen, comesBefore);
    std::vector<std::string> ids;
    ids.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        ids.push_back(chosen[i]->id);
    return ids;
}

} // namespace

std::vector<std::string> windowsToMinimize(const std::vector<WindowActivity>& from, std::int64_t limit) {
    const auto kept = static_cast<std::uint64_t>(std::max<std::int64_t>(limit, 0));
    if (from.size() <= kept) return {};
    const std::size_t excess = from.size() - static_cast<std::size_t>(kept);
    std::vector<const WindowActivity*> all;
    all.reserve(from.size());
    for (const auto& activity : from)
        all.push_back(&activity);
    return idsInActivityOrder(std::move(all), excess);
}

std::vector<std::string> inactiveWindowsToMinimize(const std::vector<WindowActivity>& from, double inactiveInterval,
                                                   double now, const std::optional<std::string>& currentWindowID) {
    if (!(inactiveInterval > 0)) return {};
    std::vector<const WindowActivity*> kept;
    for (const auto& activity : from) {
        if (currentWindowID && activity.id == *currentWindowID) continue;
        if (now - activity.lastTouched >= inactiveInterval) kept.push_back(&activity);
    }
    const std::size_t count = kept.size();
    return idsInActivityOrder(std::move(kept), count);
}

} // namespace quellan::WindowLimitPolicy
