// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A moment in nanoseconds since 1970 UTC, wider than the times a catalog
// holds (int64, 1677 to 2262): any date that can be typed, and any duration
// back from now, is a moment, and compares right with every stored time.
using MomentNs = __int128;

// What narrows the hits of a pattern beyond their names: a range of sizes and
// a range of modification times. A hit without a known size never passes a
// size bound; one without a recorded time never passes a time bound.
struct SearchFilter {
    std::optional<int64_t> nMinSize, nMaxSize; // bytes, both ends included
    std::optional<MomentNs> nChangedSinceNs;   // at or after this moment
    std::optional<MomentNs> nChangedBeforeNs;  // strictly before this moment

    bool IsActive() const { return nMinSize || nMaxSize || nChangedSinceNs || nChangedBeforeNs; }
    bool NeedsTimes() const { return nChangedSinceNs || nChangedBeforeNs; }
    bool Passes(std::optional<int64_t> nSize, std::optional<int64_t> nMtimeNs) const;
};

// SIZE: a whole number with an optional unit b, k, M, G or T (powers of
// 1024, either letter case), as bytes; nothing for anything else.
std::optional<int64_t> ParseSize(const std::string& strText);

// "+SIZE" (at least) or "-SIZE" (at most), SIZE as ParseSize reads it: sets
// the bound into filter. False with a message for anything else.
bool ParseSizeBound(const std::string& strText, SearchFilter& filter, std::string& strError);

// A moment given as a duration back from nNowNs ("2weeks", "3d", "12h",
// "90min", "1y6months"; units s, min, h, d, w, months, y and their long
// forms; numbers of any size) or as a local date ("2024-06-30", "2024-06-30
// 12:00:00", years 0000 to 9999): the moment in nanoseconds since 1970 UTC,
// also when it lies outside the times a catalog can hold, or nothing with a
// message.
std::optional<MomentNs> ParseMoment(const std::string& strText, int64_t nNowNs,
                                    std::string& strError);

// Now, in nanoseconds since 1970 UTC.
int64_t NowNs();
