// A stable merge sort that needs nothing of its comparator: it stays in
// bounds and ends after O(n log n) comparisons even when `before` is not a
// strict weak ordering (the standard sorts give no such promise).
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace quellan {

/// Sorts `values` so that an element moves ahead of an earlier one only
/// when `before(later, earlier)` holds; elements not ordered keep their
/// relative order.
template <typename T, typename Before> void stableMergeSort(std::vector<T>& values, Before before) {
    const std::size_t count = values.size();
    if (count < 2) return;
    std::vector<T>* from = &values;
    std::vector<T> scratch(count);
    std::vector<T>* to = &scratch;
    // Bottom-up: runs of width 1, 2, 4, ... merged from `from` into `to`.
    for (std::size_t width = 1; width < count; width *= 2) {
        for (std::size_t left = 0; left < count; left += 2 * width) {
            const std::size_t middle = left + width < count ? left + width : count;
            const std::size_t right = middle + width < count ? middle + width : count;
            std::size_t i = left;
            std::size_t j = middle;
            std::size_t out = left;
            while (i < middle && j < right) {
                // Take from the right run only when it strictly comes first:
                // ties and unordered pairs keep the left (earlier) element first.
                if (before((*from)[j], (*from)[i])) {
                    (*to)[out++] = std::move((*from)[j++]);
                } else {
                    (*to)[out++] = std::move((*from)[i++]);
                }
            }
            while (i < middle)
                (*to)[out++] = std::move((*from)[i++]);
            while (j < right)
                (*to)[out++] = std::move((*from)[j++]);
        }
        std::swap(from, to);
    }
    if (from != &values) values = std::move(*from);
}

} // namespace quellan
