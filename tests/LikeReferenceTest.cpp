// SPDX-License-Identifier: GPL-3.0-or-later

// The pattern matcher against a small reference written from the pattern
// rules alone, over many random patterns and texts drawn from characters where
// mistakes hide: letters with several case variants (K, k and the Kelvin sign;
// S, s and long s; three sigmas), ASCII between the upper- and lower-case
// letters, Latin-1, Greek and Cyrillic, bytes that are not UTF-8, and the
// pattern characters themselves. The seeds are fixed, so a failure repeats.

#include "catalog/CaseFold.h"
#include "catalog/EngineError.h"
#include "catalog/LikeMatcher.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

// A byte outside any well-formed UTF-8 sequence is a character of its own,
// numbered after all of Unicode.
constexpr uint32_t kLoneByte = 0x110000;

// Decodes by the table of well-formed UTF-8 byte sequences: no overlong forms,
// no surrogates, nothing past U+10FFFF.
std::vector<uint32_t> ToCodePoints(std::string_view text) {
    std::vector<uint32_t> codePoints;
    size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        size_t nTrail = 0;
        uint32_t nValue = 0;
        unsigned char nSecondLow = 0x80, nSecondHigh = 0xBF;
        if (b < 0x80) {
            codePoints.push_back(b);
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            nTrail = 1;
            nValue = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            nTrail = 2;
            nValue = b & 0x0F;
            if (b == 0xE0)
                nSecondLow = 0xA0;
            if (b == 0xED)
                nSecondHigh = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            nTrail = 3;
            nValue = b & 0x07;
            if (b == 0xF0)
                nSecondLow = 0x90;
            if (b == 0xF4)
                nSecondHigh = 0x8F;
        }
        bool bWellFormed = nTrail > 0 && i + nTrail < text.size();
        for (size_t k = 1; bWellFormed && k <= nTrail; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            const unsigned char nLow = k == 1 ? nSecondLow : 0x80;
            const unsigned char nHigh = k == 1 ? nSecondHigh : 0xBF;
            bWellFormed = t >= nLow && t <= nHigh;
            nValue = (nValue << 6) | (t & 0x3F);
        }
        if (bWellFormed) {
            codePoints.push_back(nValue);
            i += nTrail + 1;
        } else {
            codePoints.push_back(kLoneByte + b);
            ++i;
        }
    }
    return codePoints;
}

std::string ToUtf8(uint32_t c) {
    std::string str;
    if (c >= kLoneByte) {
        str += static_cast<char>(c - kLoneByte);
    } else if (c < 0x80) {
        str += static_cast<char>(c);
    } else if (c < 0x800) {
        str += static_cast<char>(0xC0 | (c >> 6));
        str += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        str += static_cast<char>(0xE0 | (c >> 12));
        str += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        str += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        str += static_cast<char>(0xF0 | (c >> 18));
        str += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        str += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        str += static_cast<char>(0x80 | (c & 0x3F));
    }
    return str;
}

// Every code point, grouped by its simple case folding: a character's case
// variants are all characters with the same folding.
class CaseVariants {
public:
    CaseVariants() {
        for (uint32_t c = 0; c < 0x110000; ++c) {
            if (FoldCase(c) != c)
                m_others[FoldCase(c)].push_back(c);
        }
    }

    // c itself and every other character with the same folding.
    std::vector<uint32_t> Of(uint32_t c) const {
        const uint32_t nFolded = FoldCase(c);
        std::vector<uint32_t> variants = {nFolded};
        if (const auto it = m_others.find(nFolded); it != m_others.end())
            variants.insert(variants.end(), it->second.begin(), it->second.end());
        return variants;
    }

private:
    std::map<uint32_t, std::vector<uint32_t>> m_others;
};

const CaseVariants& Variants() {
    static const CaseVariants variants;
    return variants;
}

struct Item {
    enum Kind { Char, AnyOne, Digit, AnyRun, List } kind;
    uint32_t c = 0;
    bool bNegated = false;
    std::vector<std::pair<uint32_t, uint32_t>> ranges = {}; // a single character is [c-c]
};

struct Parsed {
    std::vector<Item> items;
    std::optional<std::string> error; // why the pattern is malformed
};

// The pattern rules: '*' any run, '?' one character, '#' one digit 0-9,
// "[...]" one character of a list of characters and ranges, "[!...]" one
// character not in it; "[]" is the empty run, "[!]" any one character. In a
// list, ']' ends it, '-' between two characters makes a range (first or last it
// is itself), a range must not run backwards, and a list must be closed.
Parsed Parse(std::string_view pattern) {
    const std::vector<uint32_t> p = ToCodePoints(pattern);
    Parsed parsed;
    size_t i = 0;
    while (i < p.size()) {
        const uint32_t c = p[i++];
        if (c == '*') {
            parsed.items.push_back({Item::AnyRun});
        } else if (c == '?') {
            parsed.items.push_back({Item::AnyOne});
        } else if (c == '#') {
            parsed.items.push_back({Item::Digit});
        } else if (c == '[') {
            Item list{Item::List};
            if (i < p.size() && p[i] == '!') {
                list.bNegated = true;
                ++i;
            }
            bool bClosed = false;
            while (i < p.size()) {
                if (p[i] == ']') {
                    ++i;
                    bClosed = true;
                    break;
                }
                const uint32_t nLow = p[i++];
                uint32_t nHigh = nLow;
                if (i + 1 < p.size() && p[i] == '-' && p[i + 1] != ']') {
                    nHigh = p[i + 1];
                    i += 2;
                    if (nHigh < nLow) {
                        parsed.error = "a range in '[...]' is out of order";
                        return parsed;
                    }
                }
                list.ranges.emplace_back(nLow, nHigh);
            }
            if (!bClosed) {
                parsed.error = "'[' has no closing ']'";
                return parsed;
            }
            if (!list.ranges.empty() || list.bNegated)
                parsed.items.push_back(list);
        } else {
            parsed.items.push_back({Item::Char, c});
        }
    }
    return parsed;
}

bool ItemMatches(const Item& item, uint32_t c) {
    switch (item.kind) {
    case Item::Char:
        return FoldCase(c) == FoldCase(item.c);
    case Item::AnyOne:
        return true;
    case Item::Digit:
        return c >= '0' && c <= '9';
    case Item::List:
        for (const uint32_t v : Variants().Of(c)) {
            for (const auto& [nLow, nHigh] : item.ranges) {
                if (v >= nLow && v <= nHigh)
                    return !item.bNegated;
            }
        }
        return item.bNegated;
    case Item::AnyRun:
        break;
    }
    return false;
}

// Whether items[i...] match text[j...]; memo holds 0 unknown, 1 no, 2 yes.
bool MatchFrom(const std::vector<Item>& items, const std::vector<uint32_t>& text, size_t i,
               size_t j, std::vector<char>& memo) {
    char& known = memo[i * (text.size() + 1) + j];
    if (known != 0)
        return known == 2;
    bool bMatch = false;
    if (i == items.size()) {
        bMatch = j == text.size();
    } else if (items[i].kind == Item::AnyRun) {
        for (size_t k = j; k <= text.size() && !bMatch; ++k)
            bMatch = MatchFrom(items, text, i + 1, k, memo);
    } else {
        bMatch = j < text.size() && ItemMatches(items[i], text[j]) &&
                 MatchFrom(items, text, i + 1, j + 1, memo);
    }
    known = bMatch ? 2 : 1;
    return bMatch;
}

bool ReferenceMatches(const Parsed& parsed, std::string_view text) {
    const std::vector<uint32_t> codePoints = ToCodePoints(text);
    std::vector<char> memo((parsed.items.size() + 1) * (codePoints.size() + 1), 0);
    return MatchFrom(parsed.items, codePoints, 0, 0, memo);
}

// The characters patterns and texts are drawn from. Lone bytes: a stray
// continuation byte, a lead byte without its continuation, a byte never used
// in UTF-8.
const char* const kAlphabet[] = {
    "a", "A",      "b",      "B",      "i", "I", "k",    "K",    "s",    "S", "z", "Z", "_",
    "`", "@",      "[",      "{",      "~", "0", "5",    "9",    "-",    "!", "]", "*", "?",
    "#", "µ",      "é",      "É",      "ä", "Ä", "ö",    "Ö",    "×",    "ß", "ẞ", "ÿ", "Ÿ",
    "ſ", "\u212A", "\u212B", "\u2126", "å", "Å", "σ",    "Σ",    "ς",    "ω", "Ω", "α", "Α",
    "д", "Д",      "я",      "Я",      "ё", "Ё", "\x80", "\xc3", "\xff", "x", "."};

// Characters that make a pattern what it is; drawn more often in patterns.
const char* const kPatternCharacters[] = {"*", "?", "#", "[", "]", "!", "-"};

uint32_t FirstCodePoint(std::string_view text) {
    return ToCodePoints(text).front();
}

class Generator {
public:
    explicit Generator(uint32_t nSeed) : m_random(nSeed) {}

    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }
    bool Chance(int nPercent) { return Below(100) < nPercent; }
    const char* Character() { return kAlphabet[Below(std::size(kAlphabet))]; }

    std::string Pattern() {
        std::string strPattern;
        for (int n = Below(7); n > 0; --n) {
            const int nKind = Below(100);
            if (nKind < 35)
                strPattern += Character();
            else if (nKind < 47)
                strPattern += '*';
            else if (nKind < 55)
                strPattern += '?';
            else if (nKind < 60)
                strPattern += '#';
            else if (nKind < 93)
                strPattern += List();
            else
                strPattern += kPatternCharacters[Below(std::size(kPatternCharacters))];
        }
        return strPattern;
    }

    // A text that often fits the pattern: each item turned into characters it
    // takes, then now and then one character changed, added or dropped.
    std::string TextFor(const Parsed& parsed) {
        std::vector<uint32_t> text;
        for (const Item& item : parsed.items) {
            switch (item.kind) {
            case Item::Char:
                text.push_back(AnyOf(Variants().Of(item.c)));
                break;
            case Item::AnyOne:
                text.push_back(FirstCodePoint(Character()));
                break;
            case Item::Digit:
                text.push_back('0' + Below(10));
                break;
            case Item::AnyRun:
                for (int n = Below(4); n > 0; --n)
                    text.push_back(FirstCodePoint(Character()));
                break;
            case Item::List:
                text.push_back(item.bNegated || item.ranges.empty() ? FirstCodePoint(Character())
                                                                    : InList(item));
                break;
            }
        }
        if (Chance(30) && !text.empty())
            text[Below(static_cast<int>(text.size()))] = FirstCodePoint(Character());
        if (Chance(15))
            text.insert(text.begin() + Below(static_cast<int>(text.size()) + 1),
                        FirstCodePoint(Character()));
        if (Chance(15) && !text.empty())
            text.erase(text.begin() + Below(static_cast<int>(text.size())));
        std::string strText;
        for (const uint32_t c : text)
            strText += ToUtf8(c);
        return strText;
    }

    std::string RandomText() {
        std::string strText;
        for (int n = Below(7); n > 0; --n)
            strText += Character();
        return strText;
    }

private:
    // "[...]" of single characters and ranges, mostly in order, now and then
    // negated, empty, or left open.
    std::string List() {
        std::string strList = Chance(30) ? "[!" : "[";
        for (int n = Below(4); n > 0; --n) {
            std::string strLow = Character();
            if (Chance(55)) {
                std::string strHigh = Character();
                if (FirstCodePoint(strHigh) < FirstCodePoint(strLow) && Chance(90))
                    std::swap(strLow, strHigh);
                strList += strLow + "-" + strHigh;
            } else {
                strList += strLow;
            }
        }
        if (Chance(96))
            strList += ']';
        return strList;
    }

    uint32_t AnyOf(const std::vector<uint32_t>& values) {
        return values[Below(static_cast<int>(values.size()))];
    }

    // A character of the list: an end, or one in between, maybe in another case.
    uint32_t InList(const Item& item) {
        const auto& [nLow, nHigh] = item.ranges[Below(static_cast<int>(item.ranges.size()))];
        uint32_t c = std::uniform_int_distribution<uint32_t>(nLow, nHigh)(m_random);
        if (Chance(30))
            c = nLow;
        else if (Chance(30))
            c = nHigh;
        if ((c >= 0xD800 && c <= 0xDFFF) || (c >= 0x110000 && c < kLoneByte + 0x80))
            c = nLow; // no character of its own in a text
        return Chance(50) ? AnyOf(Variants().Of(c)) : c;
    }

    std::mt19937 m_random;
};

std::string Escaped(std::string_view text) {
    std::string str;
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x20 && b < 0x7F) {
            str += ch;
        } else {
            char sz[8];
            std::snprintf(sz, sizeof sz, "\\x%02x", b);
            str += sz;
        }
    }
    return str;
}

} // namespace

TEST(LikeMatcherReference, AgreesOnRandomPatternsAndTexts) {
    constexpr int kPatternsPerSeed = 12000;
    constexpr int kTextsPerPattern = 4;
    int nCases = 0, nMatches = 0, nErrors = 0, nDisagreements = 0;
    for (const uint32_t nSeed : {1u, 2u, 3u, 20240610u}) {
        Generator generator(nSeed);
        for (int p = 0; p < kPatternsPerSeed && nDisagreements < 20; ++p) {
            const std::string strPattern = generator.Pattern();
            const Parsed parsed = Parse(strPattern);
            std::optional<LikeMatcher> matcher;
            std::string strError;
            try {
                matcher.emplace(strPattern);
            } catch (const EngineError& error) {
                strError = error.what();
            }
            if (parsed.error) {
                ++nCases;
                ++nErrors;
                const std::string strExpected =
                    "Invalid search pattern '" + strPattern + "': " + *parsed.error;
                if (strError != strExpected) {
                    ++nDisagreements;
                    ADD_FAILURE() << "pattern '" << Escaped(strPattern) << "': expected error \""
                                  << Escaped(strExpected) << "\", got \"" << Escaped(strError)
                                  << "\"";
                }
                continue;
            }
            if (!matcher) {
                ++nDisagreements;
                ADD_FAILURE() << "pattern '" << Escaped(strPattern) << "' refused: " << strError;
                continue;
            }
            for (int t = 0; t < kTextsPerPattern; ++t) {
                const std::string strText =
                    t == 0 ? generator.RandomText() : generator.TextFor(parsed);
                const bool bExpected = ReferenceMatches(parsed, strText);
                ++nCases;
                nMatches += bExpected ? 1 : 0;
                if (matcher->Matches(strText) != bExpected) {
                    ++nDisagreements;
                    ADD_FAILURE() << "pattern '" << Escaped(strPattern) << "' text '"
                                  << Escaped(strText) << "': expected "
                                  << (bExpected ? "a match" : "no match");
                }
            }
        }
    }
    // The draw must reach every outcome often, or agreeing proves little.
    EXPECT_GT(nCases, 150000);
    EXPECT_GT(nMatches, nCases / 5);
    EXPECT_LT(nMatches, nCases * 4 / 5);
    EXPECT_GT(nErrors, nCases / 200);
}
