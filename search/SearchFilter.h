#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What narrows the hits of a pattern beyond their names: a range of sizes and
// a range of modification times. A hit without a known size never passes a
// size bound; one without a recorded time never passes a time bound.
struct SearchFilter {
    std::optional<int64_t> nMinSize, nMaxSize; // bytes, both ends included
    std::optional<int64_t> nChangedSinceNs;    // at or after this moment
    std::optional<int64_t> nChangedBeforeNs;   // strictly before this moment

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
// forms) or as a local date ("2024-06-30", "2024-06-30 12:00:00"): the
// moment in nanoseconds since 1970 UTC, or nothing with a message.
std::optional<int64_t> ParseMoment(const std::string& strText, int64_t nNowNs,
                                   std::string& strError);

// Now, in nanoseconds since 1970 UTC.
int64_t NowNs();
