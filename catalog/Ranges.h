// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

// A stretch of row ids, both ends included.
struct IdRange {
    int64_t nLow;
    int64_t nHigh;
};

// Sorts the ranges [begin, end) (anything with nLow and nHigh, both
// inclusive) and joins those that overlap or touch, in place. Returns the
// end of the joined ranges; what lies after it is left over.
template <typename Iterator> Iterator JoinTouchingRanges(Iterator begin, Iterator end) {
    if (begin == end)
        return end;
    std::sort(begin, end, [](const auto& a, const auto& b) { return a.nLow < b.nLow; });
    Iterator last = begin;
    for (Iterator it = std::next(begin); it != end; ++it) {
        // Written so that no end overflows, whatever its type's range.
        if (it->nLow <= last->nHigh || it->nLow - 1 == last->nHigh)
            last->nHigh = std::max(last->nHigh, it->nHigh);
        else
            *++last = *it;
    }
    return std::next(last);
}

// Merges overlapping or touching stretches; the result is sorted and disjoint.
inline std::vector<IdRange> MergeRanges(std::vector<IdRange> ranges) {
    ranges.erase(JoinTouchingRanges(ranges.begin(), ranges.end()), ranges.end());
    return ranges;
}
