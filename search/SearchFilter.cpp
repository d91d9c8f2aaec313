// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/SearchFilter.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

// A whole number at the start of text; its length, 0 when there is none.
size_t ReadNumber(const std::string& strText, size_t nPos, int64_t& nValue) {
    const char* pBegin = strText.data() + nPos;
    const auto [pEnd, ec] = std::from_chars(pBegin, strText.data() + strText.size(), nValue);
    return ec == std::errc() ? static_cast<size_t>(pEnd - pBegin) : 0;
}

std::optional<int64_t> SecondsOfUnit(const std::string& strUnit) {
    const struct {
        const char* pszNames[4];
        int64_t nSeconds;
    } kUnits[] = {
        {{"s", "sec", "secs", "second"}, 1},
        {{"seconds", nullptr, nullptr, nullptr}, 1},
        {{"min", "mins", "minute", "minutes"}, 60},
        {{"h", "hr", "hour", "hours"}, 3600},
        {{"d", "day", "days", nullptr}, 86400},
        {{"w", "week", "weeks", nullptr}, 7 * 86400},
        {{"month", "months", nullptr, nullptr}, 2629746}, // a twelfth of a mean year
        {{"y", "year", "years", nullptr}, 31556952},      // 365.2425 days
    };
    for (const auto& unit : kUnits)
        for (const char* pszName : unit.pszNames)
            if (pszName && strUnit == pszName)
                return unit.nSeconds;
    return std::nullopt;
}

std::optional<MomentNs> ParseLocalDate(const std::string& strText) {
    int nYear = 0, nMonth = 0, nDay = 0, nHour = 0, nMinute = 0, nSecond = 0;
    char cSeparator = 0;
    int nRead = 0;
    if (strText.empty() || !std::isdigit(static_cast<unsigned char>(strText[0])) ||
        std::sscanf(strText.c_str(), "%4d-%2d-%2d%n", &nYear, &nMonth, &nDay, &nRead) != 3)
        return std::nullopt;
    if (static_cast<size_t>(nRead) != strText.size()) {
        int nRest = 0;
        if (std::sscanf(strText.c_str() + nRead, "%c%2d:%2d:%2d%n", &cSeparator, &nHour, &nMinute,
                        &nSecond, &nRest) != 4 ||
            (cSeparator != ' ' && cSeparator != 'T') ||
            static_cast<size_t>(nRead + nRest) != strText.size())
            return std::nullopt;
    }
    if (nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31 || nHour < 0 || nHour > 23 ||
        nMinute < 0 || nMinute > 59 || nSecond < 0 || nSecond > 60)
        return std::nullopt;
    std::tm local{};
    local.tm_year = nYear - 1900;
    local.tm_mon = nMonth - 1;
    local.tm_mday = nDay;
    local.tm_hour = nHour;
    local.tm_min = nMinute;
    local.tm_sec = nSecond;
    local.tm_isdst = -1; // the local rule of that day
    // mktime's -1 is also the second before 1970: only an untouched
    // tm_wday tells a failure.
    local.tm_wday = -1;
    const std::time_t tTime = std::mktime(&local);
    if (local.tm_wday < 0 || local.tm_mday != nDay)
        return std::nullopt;
    return static_cast<MomentNs>(tTime) * kNsPerSecond;
}

} // namespace

bool SearchFilter::Passes(std::optional<int64_t> nSize, std::optional<int64_t> nMtimeNs) const {
    if ((nMinSize || nMaxSize) && !nSize)
        return false;
    if (nMinSize && *nSize < *nMinSize)
        return false;
    if (nMaxSize && *nSize > *nMaxSize)
        return false;
    if (NeedsTimes() && !nMtimeNs)
        return false;
    if (nChangedSinceNs && MomentNs(*nMtimeNs) < *nChangedSinceNs)
        return false;
    if (nChangedBeforeNs && MomentNs(*nMtimeNs) >= *nChangedBeforeNs)
        return false;
    return true;
}

std::optional<int64_t> ParseSize(const std::string& strText) {
    int64_t nValue = 0;
    const size_t nDigits = ReadNumber(strText, 0, nValue);
    if (nDigits == 0 || nValue < 0)
        return std::nullopt;
    const std::string strUnit = strText.substr(nDigits);
    int nShift = 0;
    if (strUnit.size() > 1)
        return std::nullopt;
    if (!strUnit.empty()) {
        switch (std::tolower(static_cast<unsigned char>(strUnit[0]))) {
        case 'b':
            break;
        case 'k':
            nShift = 10;
            break;
        case 'm':
            nShift = 20;
            break;
        case 'g':
            nShift = 30;
            break;
        case 't':
            nShift = 40;
            break;
        default:
            return std::nullopt;
        }
    }
    if (nShift > 0 && nValue > (INT64_MAX >> nShift))
        return std::nullopt;
    return nValue << nShift;
}

bool ParseSizeBound(const std::string& strText, SearchFilter& filter, std::string& strError) {
    strError = "--size takes +SIZE or -SIZE, SIZE a whole number with an optional unit b, k, M, "
               "G or T, as in +10M: '" +
               strText + "'";
    if (strText.size() < 2 || (strText[0] != '+' && strText[0] != '-'))
        return false;
    const std::optional<int64_t> nBytes = ParseSize(strText.substr(1));
    if (!nBytes)
        return false;
    if (strText[0] == '+')
        filter.nMinSize = filter.nMinSize ? std::max(*filter.nMinSize, *nBytes) : *nBytes;
    else
        filter.nMaxSize = filter.nMaxSize ? std::min(*filter.nMaxSize, *nBytes) : *nBytes;
    strError.clear();
    return true;
}

std::optional<MomentNs> ParseMoment(const std::string& strText, int64_t nNowNs,
                                    std::string& strError) {
    if (const auto date = ParseLocalDate(strText))
        return date;
    // A duration: number and unit, one or more times. Numbers of any size
    // are taken: past kFarSeconds every moment lies before all stored times.
    constexpr MomentNs kFarSeconds = MomentNs(1) << 80;
    MomentNs nSeconds = 0;
    bool bValid = !strText.empty();
    for (size_t nPos = 0; bValid && nPos < strText.size();) {
        MomentNs nValue = 0;
        size_t nUnitBegin = nPos;
        for (; nUnitBegin < strText.size() &&
               std::isdigit(static_cast<unsigned char>(strText[nUnitBegin]));
             ++nUnitBegin)
            nValue = std::min(nValue * 10 + (strText[nUnitBegin] - '0'), kFarSeconds);
        size_t nUnitEnd = nUnitBegin;
        while (nUnitEnd < strText.size() &&
               std::isalpha(static_cast<unsigned char>(strText[nUnitEnd])))
            ++nUnitEnd;
        const auto unit = SecondsOfUnit(strText.substr(nUnitBegin, nUnitEnd - nUnitBegin));
        bValid = nUnitBegin > nPos && unit;
        if (bValid)
            nSeconds = std::min(nSeconds + nValue * *unit, kFarSeconds);
        nPos = nUnitEnd;
    }
    if (!bValid) {
        strError = "'" + strText +
                   "' is neither a duration such as 2weeks, 3d or 12h (whole numbers with the "
                   "units s, min, h, d, w, months, y) nor a date such as 2024-06-30 or "
                   "'2024-06-30 12:00:00' (years 0000 to 9999)";
        return std::nullopt;
    }
    return MomentNs(nNowNs) - nSeconds * kNsPerSecond;
}

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
