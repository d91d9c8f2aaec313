// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/LikeMatcher.h"

#include "catalog/CaseFold.h"
#include "catalog/EngineError.h"
#include "catalog/Ranges.h"
#include "catalog/Utf8.h"

#include <algorithm>
#include <cstring>
#include <sqlite3.h>
#include <string>

namespace {

// Quotes at most the first 100 characters: a pattern may be as long as a path,
// and the message has to stay readable in one line or one message box.
std::string PatternError(std::string_view pattern, const char* pszWhat) {
    constexpr int kMaxQuoted = 100;
    size_t nQuoted = 0;
    for (int i = 0; i < kMaxQuoted && nQuoted < pattern.size(); ++i) {
        size_t nLength = 0;
        DecodeUtf8(pattern.substr(nQuoted), nLength);
        nQuoted += nLength;
    }
    std::string strMessage = "Invalid search pattern '";
    strMessage += pattern.substr(0, nQuoted);
    if (nQuoted < pattern.size())
        strMessage += "...";
    strMessage += "': ";
    strMessage += pszWhat;
    return strMessage;
}

// For each ASCII character, whether a character beyond ASCII folds to it.
const std::array<bool, 128>& FoldedFromBeyondAscii() {
    static const std::array<bool, 128> s_folded = [] {
        std::array<bool, 128> folded = {};
        for (const CaseFolding& folding : FoldingsBetween(128, UINT32_MAX))
            if (folding.nTo < 128)
                folded[folding.nTo] = true;
        return folded;
    }();
    return s_folded;
}

} // namespace

LikeMatcher::LikeMatcher(std::string_view pattern) {
    size_t nPos = 0;
    auto next = [&]() {
        size_t nLength = 0;
        const uint32_t nCodePoint = DecodeUtf8(pattern.substr(nPos), nLength);
        nPos += nLength;
        return nCodePoint;
    };
    while (nPos < pattern.size()) {
        const uint32_t c = next();
        if (c == '*') {
            if (m_tokens.empty() || m_tokens.back().kind != Kind::Star)
                m_tokens.push_back({Kind::Star, false, 0, 0});
        } else if (c == '?') {
            m_tokens.push_back({Kind::AnyOne, false, 0, 0});
        } else if (c == '#') {
            m_tokens.push_back({Kind::Digit, false, 0, 0});
        } else if (c == '[') {
            bool bNegated = false;
            if (nPos < pattern.size() && pattern[nPos] == '!') {
                bNegated = true;
                ++nPos;
            }
            const auto nFirst = static_cast<uint32_t>(m_ranges.size());
            size_t nItems = 0;
            uint32_t nOnly = 0; // the character of a one-character list
            bool bClosed = false;
            while (nPos < pattern.size()) {
                if (pattern[nPos] == ']') {
                    ++nPos;
                    bClosed = true;
                    break;
                }
                const uint32_t nLow = next();
                uint32_t nHigh = nLow;
                // A '-' between two characters makes a range; first or last it is itself.
                if (nPos + 1 < pattern.size() && pattern[nPos] == '-' && pattern[nPos + 1] != ']') {
                    ++nPos;
                    nHigh = next();
                    if (nHigh < nLow)
                        throw EngineError(
                            PatternError(pattern, "a range in '[...]' is out of order"));
                }
                AddFoldedRange(nLow, nHigh);
                ++nItems;
                nOnly = nLow == nHigh ? nLow : UINT32_MAX;
            }
            if (!bClosed)
                throw EngineError(PatternError(pattern, "'[' has no closing ']'"));
            if (nItems == 0 && !bNegated)
                continue; // "[]" stands for the empty run
            if (!bNegated && nItems == 1 && nOnly != UINT32_MAX) {
                // One listed character, such as "[*]": a plain literal.
                m_ranges.resize(nFirst);
                m_tokens.push_back({Kind::Literal, false, FoldCase(nOnly), 0});
                continue;
            }
            MergeRanges(nFirst);
            Token set{Kind::Set, bNegated, nFirst, static_cast<uint32_t>(m_ranges.size())};
            // Most names are mostly ASCII: those characters get their answer from a bit.
            for (uint32_t a = 0; a < 128; ++a) {
                if (InRanges(set, FoldCase(a)) != bNegated)
                    set.asciiAnswers[a >> 6] |= uint64_t(1) << (a & 63);
            }
            m_tokens.push_back(set);
        } else {
            m_tokens.push_back({Kind::Literal, false, FoldCase(c), 0});
        }
    }
    for (Token& token : m_tokens) {
        if (token.kind != Kind::Literal || token.nValue >= 128)
            continue;
        token.cByte = static_cast<char>(token.nValue);
        token.cOtherCase = token.cByte;
        for (uint32_t a = 'A'; a <= 'Z'; ++a)
            if (FoldCase(a) == token.nValue)
                token.cOtherCase = static_cast<char>(a);
        token.bOnlyAscii = !FoldedFromBeyondAscii()[token.nValue];
    }
}

// A character belongs to the range when it or one of its case variants lies
// between the ends. All variants share one folding, so the test is made on the
// character's folding: it must be the folding of some code point of the range.
// Those foldings are the range's own code points that fold to themselves, plus
// the foldings, lying outside, of those that fold to another one. Keeping the
// whole range in place of the first part is exact, because a code point that
// folds to another one is never a folding itself.
void LikeMatcher::AddFoldedRange(uint32_t nLow, uint32_t nHigh) {
    m_ranges.push_back({nLow, nHigh});
    for (const CaseFolding& folding : FoldingsBetween(nLow, nHigh)) {
        if (folding.nTo < nLow || folding.nTo > nHigh)
            m_ranges.push_back({folding.nTo, folding.nTo});
    }
}

// Sorts the ranges of one list from nFirst on and joins those that overlap or
// touch, so [A-Z] is held as [A-Z] and [a-z], not as [A-Z] and 26 letters.
void LikeMatcher::MergeRanges(uint32_t nFirst) {
    m_ranges.erase(JoinTouchingRanges(m_ranges.begin() + nFirst, m_ranges.end()), m_ranges.end());
}

bool LikeMatcher::InRanges(const Token& token, uint32_t nFolded) const {
    for (uint32_t i = token.nValue; i < token.nEnd; ++i) {
        const Range& r = m_ranges[i];
        if (nFolded < r.nLow)
            return false; // the ranges are sorted
        if (nFolded <= r.nHigh)
            return true;
    }
    return false;
}

std::vector<std::vector<uint32_t>> LikeMatcher::LiteralRuns() const {
    std::vector<std::vector<uint32_t>> runs;
    std::vector<uint32_t> run;
    for (const Token& token : m_tokens) {
        if (token.kind == Kind::Literal) {
            run.push_back(token.nValue);
        } else if (!run.empty()) {
            runs.push_back(std::move(run));
            run.clear();
        }
    }
    if (!run.empty())
        runs.push_back(std::move(run));
    return runs;
}

bool LikeMatcher::MatchesOne(const Token& token, uint32_t nCodePoint) const {
    switch (token.kind) {
    case Kind::Literal:
        return FoldCase(nCodePoint) == token.nValue;
    case Kind::AnyOne:
        return true;
    case Kind::Digit:
        return nCodePoint >= '0' && nCodePoint <= '9';
    case Kind::Set:
        if (nCodePoint < 128)
            return (token.asciiAnswers[nCodePoint >> 6] >> (nCodePoint & 63)) & 1;
        return InRanges(token, FoldCase(nCodePoint)) != token.bNegated;
    case Kind::Star:
        break;
    }
    return false;
}

namespace {

// The character at nPos of text: ASCII bytes directly, the rest decoded.
inline uint32_t CharacterAt(std::string_view text, size_t nPos, size_t& nLength) {
    const auto b = static_cast<unsigned char>(text[nPos]);
    if (b < 0x80) {
        nLength = 1;
        return b;
    }
    return DecodeUtf8(std::string_view(text.data() + nPos, text.size() - nPos), nLength);
}

} // namespace

// Where, from nPos on, the literal may match, for the '*' before it:
// every ASCII byte that does not fold to it is a character that fails it at
// once (an ASCII byte is never part of a longer character), and so is any
// other character when none beyond ASCII folds to it. text.size() when it
// cannot match anywhere.
size_t LikeMatcher::NextPlaceOf(const Token& literal, std::string_view text, size_t nPos) const {
    if (literal.cByte == 0)
        return nPos;
    if (literal.bOnlyAscii && literal.cOtherCase == literal.cByte) {
        const void* pFound = std::memchr(text.data() + nPos, literal.cByte, text.size() - nPos);
        return pFound ? static_cast<size_t>(static_cast<const char*>(pFound) - text.data())
                      : text.size();
    }
    for (; nPos < text.size(); ++nPos) {
        const char c = text[nPos];
        if (c == literal.cByte || c == literal.cOtherCase ||
            (!literal.bOnlyAscii && static_cast<unsigned char>(c) >= 0x80))
            break;
    }
    return nPos;
}

bool LikeMatcher::Matches(std::string_view text) const {
    // Every token but '*' takes exactly one character, so remembering only the
    // last '*' and letting it take one more character on a mismatch is enough.
    const size_t nTokens = m_tokens.size();
    size_t nToken = 0;
    size_t nText = 0;
    size_t nStarToken = SIZE_MAX;
    size_t nStarText = 0;
    while (nText < text.size()) {
        if (nToken < nTokens && m_tokens[nToken].kind == Kind::Star) {
            nStarToken = nToken++;
            if (nToken == nTokens)
                return true; // a last '*' takes the rest
            nText = NextPlaceOf(m_tokens[nToken], text, nText);
            if (nText == text.size())
                return false; // what follows the '*' needs a character
            nStarText = nText;
            continue;
        }
        size_t nLength = 0;
        const uint32_t c = CharacterAt(text, nText, nLength);
        if (nToken < nTokens && MatchesOne(m_tokens[nToken], c)) {
            ++nToken;
            nText += nLength;
            continue;
        }
        if (nStarToken == SIZE_MAX)
            return false;
        nToken = nStarToken + 1;
        CharacterAt(text, nStarText, nLength);
        nStarText = NextPlaceOf(m_tokens[nToken], text, nStarText + nLength);
        nText = nStarText;
    }
    while (nToken < nTokens && m_tokens[nToken].kind == Kind::Star)
        ++nToken;
    return nToken == nTokens;
}

namespace {

std::string_view ValueText(sqlite3_value* pValue) {
    const auto* pText = reinterpret_cast<const char*>(sqlite3_value_text(pValue));
    return pText ? std::string_view(pText, static_cast<size_t>(sqlite3_value_bytes(pValue)))
                 : std::string_view();
}

// A matcher kept with its statement, remembering its last text and answer: a
// search over files and their directories' paths meets the same directory
// path for every file of that directory in a row.
struct StatementMatcher {
    explicit StatementMatcher(std::string_view pattern) : matcher(pattern) {}

    bool Matches(std::string_view text) {
        if (!bHaveLast || text != strLast) {
            strLast.assign(text); // reuses its buffer: no allocation once grown
            bLastResult = matcher.Matches(text);
            bHaveLast = true;
        }
        return bLastResult;
    }

    LikeMatcher matcher;
    std::string strLast;
    bool bHaveLast = false;
    bool bLastResult = false;
};

void DeleteMatcher(void* p) {
    delete static_cast<StatementMatcher*>(p);
}

void LikeFunction(sqlite3_context* pContext, int /*nArgs*/, sqlite3_value** ppArgs) {
    if (sqlite3_value_type(ppArgs[0]) == SQLITE_NULL ||
        sqlite3_value_type(ppArgs[1]) == SQLITE_NULL)
        return; // NULL, as for any comparison with no value
    // A bound pattern stays the same for the whole statement: the engine keeps
    // the parsed matcher with the argument, so rows after the first parse nothing.
    auto* pMatcher = static_cast<StatementMatcher*>(sqlite3_get_auxdata(pContext, 0));
    const bool bCached = pMatcher != nullptr;
    if (!bCached) {
        try {
            pMatcher = new StatementMatcher(ValueText(ppArgs[0]));
        } catch (const EngineError& error) {
            sqlite3_result_error(pContext, error.what(), -1);
            return;
        } catch (const std::bad_alloc&) {
            sqlite3_result_error_nomem(pContext);
            return;
        }
    }
    sqlite3_result_int(pContext, pMatcher->Matches(ValueText(ppArgs[1])) ? 1 : 0);
    if (!bCached)
        sqlite3_set_auxdata(pContext, 0, pMatcher, DeleteMatcher);
}

} // namespace

void RegisterLikeFunction(sqlite3* pDb) {
    const int rc = sqlite3_create_function_v2(pDb, "like", 2,
                                              SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                              nullptr, LikeFunction, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throw EngineError(sqlite3_errmsg(pDb), rc);
}
