// SPDX-License-Identifier: GPL-3.0-or-later

// The size and time filters of a search at their edges: bounds that include
// both ends, the largest sizes, the times a catalog holds (1677 to 2262) and
// moments beyond them, durations of any length.
#include "search/SearchFilter.h"
#include "TestTree.h"

#include <climits>
#include <ctime>
#include <gtest/gtest.h>

namespace {

constexpr MomentNs kNsPerSecond = 1000000000;

// Local dates read as UTC for the life of the object.
class UtcDates {
public:
    UtcDates() : m_tz("TZ", "UTC") { ::tzset(); }
    ~UtcDates() { ::tzset(); }

private:
    ScopedEnv m_tz;
};

SearchFilter Bounds(std::initializer_list<const char*> bounds) {
    SearchFilter filter;
    std::string strError;
    for (const char* pszBound : bounds)
        EXPECT_TRUE(ParseSizeBound(pszBound, filter, strError)) << pszBound << ": " << strError;
    return filter;
}

MomentNs Moment(const std::string& strText, int64_t nNowNs = 0) {
    std::string strError;
    const std::optional<MomentNs> moment = ParseMoment(strText, nNowNs, strError);
    EXPECT_TRUE(moment) << strText << ": " << strError;
    return moment.value_or(0);
}

} // namespace

TEST(SearchFilterTest, SizesAreWholeBytesUpToTheLargestAndBoundsIncludeBothEnds) {
    EXPECT_EQ(ParseSize("0"), 0);
    EXPECT_EQ(ParseSize("1b"), 1);
    EXPECT_EQ(ParseSize("1B"), 1);
    EXPECT_EQ(ParseSize("1k"), 1024);
    EXPECT_EQ(ParseSize("3K"), 3072);
    EXPECT_EQ(ParseSize("1m"), int64_t{1} << 20);
    EXPECT_EQ(ParseSize("1G"), int64_t{1} << 30);
    EXPECT_EQ(ParseSize("1t"), int64_t{1} << 40);
    EXPECT_EQ(ParseSize("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(ParseSize("8388607T"), int64_t{8388607} << 40);
    EXPECT_EQ(ParseSize("9007199254740991k"), int64_t{9007199254740991} << 10);
    for (const char* pszBad : {"", "k", "-1", "+1", " 1", "1 ", "1.5k", "1kb", "1X", "0x10",
                               "9223372036854775808", "8388608T", "9007199254740992k", "99999999T"})
        EXPECT_EQ(ParseSize(pszBad), std::nullopt) << pszBad;

    SearchFilter filter = Bounds({"+5", "-5"});
    EXPECT_FALSE(filter.Passes(4, std::nullopt));
    EXPECT_TRUE(filter.Passes(5, std::nullopt));
    EXPECT_FALSE(filter.Passes(6, std::nullopt));
    EXPECT_FALSE(filter.Passes(std::nullopt, std::nullopt)) << "no size passes no size bound";
    filter = Bounds({"+0"});
    EXPECT_TRUE(filter.Passes(0, std::nullopt));
    EXPECT_TRUE(filter.Passes(INT64_MAX, std::nullopt));
    EXPECT_FALSE(filter.Passes(std::nullopt, std::nullopt));
    filter = Bounds({"-0"});
    EXPECT_TRUE(filter.Passes(0, std::nullopt));
    EXPECT_FALSE(filter.Passes(1, std::nullopt));
    filter = Bounds({"+9223372036854775807"});
    EXPECT_TRUE(filter.Passes(INT64_MAX, std::nullopt));
    EXPECT_FALSE(filter.Passes(INT64_MAX - 1, std::nullopt));
    // Given twice, the narrower bound holds.
    filter = Bounds({"+10", "+1", "-1k", "-2k"});
    EXPECT_EQ(filter.nMinSize, 10);
    EXPECT_EQ(filter.nMaxSize, 1024);
    EXPECT_FALSE(SearchFilter{}.IsActive());
    EXPECT_TRUE(SearchFilter{}.Passes(std::nullopt, std::nullopt));

    // A bad bound says what it was given and leaves the filter as it was.
    for (const char* pszBad : {"", "+", "-", "5", "++1", "+-1", "+1X", "+99999999T"}) {
        std::string strError;
        EXPECT_FALSE(ParseSizeBound(pszBad, filter, strError)) << pszBad;
        EXPECT_NE(strError.find(Concat({"'", pszBad, "'"})), std::string::npos) << strError;
        EXPECT_EQ(filter.nMinSize, 10);
        EXPECT_EQ(filter.nMaxSize, 1024);
    }
}

TEST(SearchFilterTest, SinceIncludesItsMomentBeforeDoesNotAndBothReachPastStoredTimes) {
    const UtcDates utc;
    SearchFilter filter;
    filter.nChangedSinceNs = 1000;
    EXPECT_TRUE(filter.NeedsTimes());
    EXPECT_TRUE(filter.Passes(std::nullopt, 1000));
    EXPECT_FALSE(filter.Passes(std::nullopt, 999));
    EXPECT_FALSE(filter.Passes(5, std::nullopt)) << "no time passes no time bound";
    filter.nChangedBeforeNs = 2000;
    EXPECT_TRUE(filter.Passes(std::nullopt, 1999));
    EXPECT_FALSE(filter.Passes(std::nullopt, 2000));

    // Dates, to the second, with or without a time of day.
    EXPECT_EQ(Moment("2020-03-04"), MomentNs(1583280000) * kNsPerSecond);
    EXPECT_EQ(Moment("2020-03-04 05:06:07"), MomentNs(1583298367) * kNsPerSecond);
    EXPECT_EQ(Moment("2020-03-04T05:06:07"), MomentNs(1583298367) * kNsPerSecond);
    EXPECT_EQ(Moment("1969-12-31 23:59:59"), -kNsPerSecond);
    EXPECT_EQ(Moment("0000-01-01"), MomentNs(-62167219200) * kNsPerSecond);
    EXPECT_EQ(Moment("9999-12-31 23:59:59"), MomentNs(253402300799) * kNsPerSecond);

    // The first and last times a catalog holds: INT64_MIN ns lies within
    // 1677-09-21 00:12:43, INT64_MAX ns within 2262-04-11 23:47:16.
    const auto passes = [](std::optional<MomentNs> since, std::optional<MomentNs> before,
                           int64_t nMtimeNs) {
        SearchFilter bounds;
        bounds.nChangedSinceNs = since;
        bounds.nChangedBeforeNs = before;
        return bounds.Passes(std::nullopt, nMtimeNs);
    };
    EXPECT_TRUE(passes(Moment("1677-09-21 00:12:43"), std::nullopt, INT64_MIN));
    EXPECT_FALSE(passes(Moment("1677-09-21 00:12:44"), std::nullopt, INT64_MIN));
    EXPECT_TRUE(passes(Moment("1677-09-21 00:12:44"), std::nullopt, INT64_MAX));
    EXPECT_TRUE(passes(Moment("1000-01-01"), std::nullopt, INT64_MIN));
    EXPECT_FALSE(passes(std::nullopt, Moment("1677-09-21 00:12:43"), INT64_MIN));
    EXPECT_TRUE(passes(std::nullopt, Moment("1677-09-21 00:12:44"), INT64_MIN));
    EXPECT_TRUE(passes(std::nullopt, Moment("2262-04-11 23:47:17"), INT64_MAX));
    EXPECT_FALSE(passes(std::nullopt, Moment("2262-04-11 23:47:16"), INT64_MAX));
    EXPECT_TRUE(passes(std::nullopt, Moment("2300-01-01"), INT64_MAX));
    EXPECT_FALSE(passes(Moment("2262-04-11 23:47:17"), std::nullopt, INT64_MAX));
    EXPECT_TRUE(passes(Moment("2262-04-11 23:47:16"), std::nullopt, INT64_MAX));

    for (const char* pszBad :
         {"2020-13-01", "2020-02-30", "2020-00-10", "2020-01-01 24:00:00", "2020-01-01 12:60:00",
          "2020-01-01x12:00:00", "2020-01-01 12:00", "10000-01-01", "-2020-01-01"}) {
        std::string strError;
        EXPECT_EQ(ParseMoment(pszBad, 0, strError), std::nullopt) << pszBad;
        EXPECT_NE(strError.find(pszBad), std::string::npos) << strError;
    }
}

TEST(SearchFilterTest, DurationsCountBackFromNowAndMayBeOfAnySize) {
    const int64_t nNow = int64_t{1700000000} * 1000000000;
    const auto back = [&](int64_t nSeconds) { return MomentNs(nNow) - nSeconds * kNsPerSecond; };
    EXPECT_EQ(Moment("0s", nNow), MomentNs(nNow));
    EXPECT_EQ(Moment("30s", nNow), back(30));
    EXPECT_EQ(Moment("90min", nNow), back(90 * 60));
    EXPECT_EQ(Moment("12h", nNow), back(12 * 3600));
    EXPECT_EQ(Moment("3d", nNow), back(3 * 86400));
    EXPECT_EQ(Moment("3days", nNow), back(3 * 86400));
    EXPECT_EQ(Moment("2weeks", nNow), back(14 * 86400));
    EXPECT_EQ(Moment("1month", nNow), back(2629746));
    EXPECT_EQ(Moment("1y", nNow), back(31556952));
    EXPECT_EQ(Moment("1y6months", nNow), back(31556952 + 6 * 2629746));
    EXPECT_EQ(Moment("1d1h1min1s", nNow), back(86400 + 3600 + 60 + 1));

    // Durations past every stored time, however many digits: a longer one
    // never lies later.
    SearchFilter filter;
    MomentNs nLater = Moment("500y", nNow);
    EXPECT_LT(nLater, MomentNs(INT64_MIN));
    for (std::string strYears = "1000"; strYears.size() <= 60; strYears += "0") {
        for (const std::string& strFar : {strYears + "y", strYears + "y" + strYears + "months"}) {
            filter.nChangedSinceNs = Moment(strFar, nNow);
            EXPECT_LE(*filter.nChangedSinceNs, nLater) << strFar;
            EXPECT_TRUE(filter.Passes(std::nullopt, INT64_MIN)) << strFar;
            nLater = *filter.nChangedSinceNs;
        }
    }
    filter = SearchFilter{};
    filter.nChangedBeforeNs = Moment("99999999999999999999999y", nNow);
    EXPECT_FALSE(filter.Passes(std::nullopt, INT64_MIN));
    EXPECT_FALSE(filter.Passes(std::nullopt, INT64_MAX));

    for (const char* pszBad : {"", "3", "d", "3x", "-3d", "3d ", " 3d", "3 d", "3d-1h", "1.5h",
                               "yesterday", "fortnight"}) {
        std::string strError;
        EXPECT_EQ(ParseMoment(pszBad, nNow, strError), std::nullopt) << pszBad;
        EXPECT_NE(strError.find(Concat({"'", pszBad, "'"})), std::string::npos) << strError;
    }
}
