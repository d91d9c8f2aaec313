// SPDX-License-Identifier: GPL-3.0-or-later

#include "TestTree.h"
#include "catalog/CaseFold.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/LikeMatcher.h"
#include "catalog/ResultSet.h"
#include "catalog/Statement.h"

#include <cctype>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

struct LikeCase {
    const char* pszPattern;
    const char* pszText;
    bool bMatches;
};

// Each pattern character, the brackets' literal forms, whole-text matching.
const LikeCase kPatternCases[] = {
    {"report", "report", true},
    {"report", "report.txt", false},
    {"report", "my report", false},
    {"*report*", "my report.txt", true},
    {"*.txt", "notes.txt", true},
    {"*.txt", "notes.txt.bak", false},
    {"*.txt", ".txt", true},
    {"*", "", true},
    {"*", "anything at all", true},
    {"", "", true},
    {"", "x", false},
    {"a*b*c", "aXXbYYc", true},
    {"a*b*c", "aXXbYY", false},
    {"a*a*a", "aaa", true},
    {"a*a*a", "aa", false},
    {"*ab", "aaab", true},
    {"*aab", "aaaab", true},
    {"**x", "abx", true},
    {"?", "a", true},
    {"?", "", false},
    {"?", "ab", false},
    {"???", "abc", true},
    {"a?c", "abc", true},
    {"a?c", "ac", false},
    {"#", "7", true},
    {"#", "x", false},
    {"##-##", "12-34", true},
    {"##-##", "12-3a", false},
    {"[abc]", "b", true},
    {"[abc]", "d", false},
    {"[abc]x", "cx", true},
    {"[a-f]", "d", true},
    {"[a-f]", "g", false},
    {"[a-cx-z]", "y", true},
    {"[a-cx-z]", "m", false},
    {"[!abc]", "d", true},
    {"[!abc]", "a", false},
    {"[!a-f]", "g", true},
    {"[!a-f]", "c", false},
    {"[!abc]", "", false},
    {"[*]", "*", true},
    {"[*]", "x", false},
    {"a[*]", "a*", true},
    {"[?]", "?", true},
    {"[?]", "x", false},
    {"[#]", "#", true},
    {"[#]", "5", false},
    {"[[]", "[", true},
    {"[[]x]", "[x]", true},
    {"]", "]", true},
    {"[-a]", "-", true},
    {"[a-]", "-", true},
    {"[a-]", "b", false},
    {"[!]", "q", true},
    {"x[]y", "xy", true},
    {"x[]y", "xzy", false},
    {"100%", "100%", true},
    {"a_b", "a_b", true},
    {"a_b", "axb", false},
    {"it's", "it's", true},
    {"*'*", "o'brien", true},
};

// Letter case under simple case folding: Latin with accents, Greek, Cyrillic,
// and ranges written in either case.
const LikeCase kCaseCases[] = {
    {"REPORT.TXT", "report.txt", true},
    {"*.txt", "NOTES.TXT", true},
    {"café", "CAFÉ", true},
    {"ÀÉÎÕÜ", "àéîõü", true},
    {"straße", "STRAßE", true},
    {"ÿ", "Ÿ", true},
    {"œuvre", "ŒUVRE", true},
    {"Ωμέγα", "ωΜΈΓΑ", true},
    {"σ", "ς", true},
    {"Привет", "пРИВЕТ", true},
    {"*ёлка*", "новая ЁЛКА", true},
    {"[а-я]", "Ж", true},
    {"[А-Я]", "ж", true},
    {"[a-z]", "Q", true},
    {"[A-Z]", "q", true},
    {"[à-þ]", "É", true},
    {"[!a-z]", "Q", false},
    {"?", "é", true},
    {"??", "é", false},
    {"?", "€", true},
    {"?", "😀", true},
    {"a?b", "a😀b", true},
    {"e", "é", false},
    {"ss", "ß", false},
};

// A character is in a range when it, or a letter of another case that folds
// to the same letter, lies between the ends as written. Folding the ends
// instead would widen [0-Z] to [0-z] and empty or shrink ranges that cross
// from upper to lower case.
const LikeCase kRangeCaseCases[] = {
    // Ends that fold apart must not widen the range: '_' and '`' lie between
    // 'Z' and 'a', not between '0' and 'Z'.
    {"[0-Z]", "_", false},
    {"[0-Z]", "`", false},
    {"[0-Z]", "q", true},
    {"[0-Z]", "7", true},
    {"[!0-Z]", "_", true},
    {"[!0-Z]", "q", false},
    // Ranges that cross from upper to lower case.
    {"[Z-a]", "z", true},
    {"[Z-a]", "A", true},
    {"[Z-a]", "_", true},
    {"[Z-a]", "b", false},
    {"[Z-a]", "Y", false},
    {"[I-i]", "B", true},
    {"[I-i]", "b", true},
    {"[I-i]", "Z", true},
    {"[I-i]", "[", true},
    {"[I-i]", "{", false},
    {"[!I-i]", "B", false},
    {"[!I-i]", "{", true},
    {"x[a-cI-i]y", "xBy", true},
    // Latin-1, Greek and Cyrillic ranges, in either case and across it.
    {"[à-ï]", "Ä", true},
    {"[à-ï]", "Ö", false},
    {"[Ö-ä]", "ü", true},
    {"[Ö-ä]", "ö", true},
    {"[Ö-ä]", "×", true},
    {"[Ö-ä]", "å", false},
    {"[Ω-α]", "ω", true},
    {"[Ω-α]", "Α", true},
    {"[Ω-α]", "β", false},
    {"[Я-а]", "я", true},
    {"[Я-а]", "А", true},
    {"[Я-а]", "б", false},
    // K, k and the Kelvin sign (U+212A) are one letter; so are S, s and long s.
    {"[a-z]", "\u212A", true},
    {"[!a-z]", "\u212A", false},
    {"[\u2100-\u2130]", "k", true},
    {"[\u2100-\u2130]", "K", true},
    {"[\u2100-\u2130]", "j", false},
    {"[!\u2120-\u212F]", "K", false},
    {"[\u2100-\u2130]", "å", true}, // the Angstrom sign U+212B
    {"[\u017F-\u0180]", "S", true},
    {"[\u017F-\u0180]", "t", false},
};

// Bytes that are not UTF-8 are characters of their own.
const LikeCase kInvalidUtf8Cases[] = {
    {"?", "\xff", true},
    {"??", "\xff", false},
    {"a?b",
     "a\xc3"
     "b",
     true},
    {"a\xff"
     "b",
     "a\xff"
     "b",
     true},
    {"a\xff"
     "b",
     "a\xfe"
     "b",
     false},
    {"*\xe9*", "caf\xe9.txt", true},
    {"caf?.txt", "caf\xe9.txt", true},
    {"???", "\xed\xa0\x80", true}, // an encoded surrogate is three bytes
    {"?", "\xc0\xaf", false},      // an overlong form is two bytes
    {"[\xff]", "\xff", true},
    {"*", "\x80\x80\x80", true},
};

void ExpectCases(const LikeCase* pCases, size_t nCases) {
    for (size_t i = 0; i < nCases; ++i) {
        const LikeCase& c = pCases[i];
        EXPECT_EQ(LikeMatcher(c.pszPattern).Matches(c.pszText), c.bMatches)
            << "pattern '" << c.pszPattern << "' text '" << c.pszText << "'";
    }
}

} // namespace

TEST(LikeMatcher, PatternCharacters) {
    ExpectCases(kPatternCases, std::size(kPatternCases));
}

TEST(LikeMatcher, LetterCaseFolds) {
    ExpectCases(kCaseCases, std::size(kCaseCases));
}

TEST(LikeMatcher, RangesHoldEveryCaseOfTheLettersBetweenTheirEnds) {
    ExpectCases(kRangeCaseCases, std::size(kRangeCaseCases));
}

TEST(LikeMatcher, InvalidUtf8BytesAreSingleCharacters) {
    ExpectCases(kInvalidUtf8Cases, std::size(kInvalidUtf8Cases));
}

TEST(LikeMatcher, MalformedPatternsAreErrors) {
    for (const char* pszPattern : {"[", "[abc", "a[!", "[a-", "x[z-a]"}) {
        EXPECT_THROW(LikeMatcher{pszPattern}, EngineError) << pszPattern;
    }
    try {
        LikeMatcher matcher("*[abc");
        FAIL() << "an unclosed bracket was accepted";
    } catch (const EngineError& error) {
        EXPECT_NE(std::string(error.what()).find("no closing ']'"), std::string::npos)
            << error.what();
    }
}

TEST(LikeMatcher, MessageQuotesAtMostTheFirstHundredCharacters) {
    auto message = [](const std::string& strPattern) {
        try {
            LikeMatcher matcher(strPattern);
        } catch (const EngineError& error) {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    std::string strHundred = "[";
    for (int i = 1; i < 100; ++i)
        strHundred += "é";
    EXPECT_EQ(message(strHundred),
              "Invalid search pattern '" + strHundred + "': '[' has no closing ']'");
    // Cut after 100 characters, never inside one (each 'é' is two bytes).
    EXPECT_EQ(message(strHundred + "éé[z-a]"),
              "Invalid search pattern '" + strHundred + "...': a range in '[...]' is out of order");
}

TEST(CaseFold, FoldsToOneSharedLetter) {
    const std::pair<uint32_t, uint32_t> kFolds[] = {
        {'A', 'a'},    {'z', 'z'},     {0xC9, 0xE9},       {0x178, 0xFF},        {0x1E9E, 0xDF},
        {0xDF, 0xDF},  {0x3A3, 0x3C3}, {0x3C2, 0x3C3},     {0x416, 0x436},       {0x401, 0x451},
        {0x212A, 'k'}, {0x130, 0x130}, {0x10400, 0x10428}, {0x110041, 0x110041},
    };
    for (const auto& [nFrom, nTo] : kFolds)
        EXPECT_EQ(FoldCase(nFrom), nTo) << std::hex << nFrom;
}

// The operator as the catalog statements use it: registered on every
// connection, the pattern bound as a parameter.
class LikeSqlTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_db.Create(m_tree.Path("like.mdb"));
        m_db.Execute("CREATE TABLE t(name TEXT);"
                     "INSERT INTO t VALUES ('Alpha.TXT'), ('beta.txt'), ('gamma.doc'), (NULL);");
    }

    int64_t CountMatches(const std::string& strPattern) {
        Statement statement = m_db.Prepare("SELECT count(*) FROM t WHERE name LIKE ?");
        statement.BindText(1, strPattern);
        ResultSet rows(std::move(statement));
        return rows.GetInt64(0);
    }

    TestTree m_tree;
    Database m_db;
};

TEST_F(LikeSqlTest, OperatorUsesCatalogRules) {
    EXPECT_EQ(CountMatches("*.txt"), 2);
    EXPECT_EQ(CountMatches("%"), 0); // not a wildcard here
    EXPECT_EQ(CountMatches("_____.doc"), 0);
    EXPECT_EQ(CountMatches("?????.doc"), 1);
    EXPECT_EQ(CountMatches("[ab]*"), 2);
    EXPECT_EQ(CountMatches("[I-i]*"), 3); // 'A' by its lower case
}

TEST_F(LikeSqlTest, RebindingThePatternTakesTheNewOne) {
    // The parsed pattern is kept between rows; a new value must not reuse it.
    Statement statement = m_db.Prepare("SELECT name FROM t WHERE name LIKE ?");
    for (const char* pszPattern : {"a*", "b*", "g*", "a*"}) {
        statement.Reset();
        statement.BindText(1, pszPattern);
        ASSERT_TRUE(statement.Step()) << pszPattern;
        const auto* pName = sqlite3_column_text(statement.Handle(), 0);
        EXPECT_EQ(std::tolower(pName[0]), pszPattern[0]);
        EXPECT_FALSE(statement.Step()) << pszPattern;
    }
}

TEST_F(LikeSqlTest, RepeatedTextsGetTheirOwnAnswers) {
    // The function remembers its last text; each row must still be judged.
    m_db.Execute("CREATE TABLE r(n INTEGER, name TEXT);"
                 "INSERT INTO r VALUES (1, '/a'), (2, '/a'), (3, '/b'), (4, '/a'), (5, '/A'),"
                 " (6, '/ab'), (7, '/a');");
    Statement statement =
        m_db.Prepare("SELECT group_concat(n) FROM (SELECT n FROM r WHERE name LIKE ? ORDER BY n)");
    statement.BindText(1, "/a");
    ResultSet rows(std::move(statement));
    EXPECT_EQ(rows.GetText(0), "1,2,4,5,7");
}

TEST_F(LikeSqlTest, MalformedPatternFailsTheStatementWithItsMessage) {
    Statement statement = m_db.Prepare("SELECT name FROM t WHERE name LIKE ?");
    statement.BindText(1, "[abc");
    try {
        ResultSet rows(std::move(statement));
        FAIL() << "the statement ran";
    } catch (const EngineError& error) {
        EXPECT_NE(std::string(error.what()).find("'[' has no closing ']'"), std::string::npos)
            << error.what();
    }
}

TEST_F(LikeSqlTest, NullIsNoMatch) {
    Statement statement = m_db.Prepare("SELECT count(*) FROM t WHERE name LIKE ? OR ? LIKE name");
    statement.BindText(1, "*");
    statement.BindNull(2);
    ResultSet rows(std::move(statement));
    EXPECT_EQ(rows.GetInt64(0), 3);
}
