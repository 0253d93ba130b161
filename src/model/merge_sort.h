// A stable merge sort that finishes whatever its comparison answers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace velk::model {

// Sorts `items` so that an element moves before an earlier one only when
// `after(earlier, later)` is true. Bottom-up, n log n comparisons; every comparison is
// between two elements of the array, and the passes are bounded by the array size, so an
// inconsistent comparison (one that is not a strict weak order) leaves some permutation of
// the items but never reads outside them or fails to finish.
template <class T, class After>
void StableMergeSort(std::vector<T>& items, After after) {
    const size_t n = items.size();
    if (n < 2) return;
    std::vector<T> scratch(n);
    std::vector<T>* from = &items;
    std::vector<T>* to = &scratch;
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            const size_t mid = std::min(lo + width, n);
            const size_t hi = std::min(lo + 2 * width, n);
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) {
                // Take from the right run only when the left element sorts after it.
                if (after((*from)[i], (*from)[j]))
                    (*to)[k++] = (*from)[j++];
                else
                    (*to)[k++] = (*from)[i++];
            }
            while (i < mid) (*to)[k++] = (*from)[i++];
            while (j < hi) (*to)[k++] = (*from)[j++];
        }
        std::swap(from, to);
        if (width >= n - width) break;  // this pass made one run of the whole array
    }
    if (from != &items) items.swap(scratch);
}

}  // namespace velk::model
