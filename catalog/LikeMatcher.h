// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

struct sqlite3;

// A catalog search pattern, parsed once and then matched against many texts
// without allocating. The pattern covers the whole text:
//   *        any run of characters, also none
//   ?        exactly one character
//   #        one digit 0-9
//   [abc]    one character of the list; [a-z] a range; [!abc] one not listed
//   [*] [?] [#] [[]   the character itself
//   []       nothing (matches the empty run); [!] any one character
// In a list ']' ends it and '-' between two characters makes a range; a '-'
// first or last in the list is itself.
// Letters compare under Unicode simple case folding. A character is in the range
// [x-y] when it, or a character of another case with the same folding, lies
// from x to y by code point: [0-Z] holds z but not '_', [Z-a] holds z and A.
// Texts are UTF-8; a byte that is not part of a valid sequence is one character
// of its own, ordered after every code point.
class LikeMatcher {
public:
    // Parses the pattern; raises EngineError when it is malformed (a '[' with
    // no closing ']', a range whose ends are out of order). The message quotes
    // at most the pattern's first 100 characters.
    explicit LikeMatcher(std::string_view pattern);

    bool Matches(std::string_view text) const;

    // The pattern's runs of plain characters, each character folded: every
    // text the pattern matches holds each run as consecutive characters that
    // fold to them. "*invoice_2023*" has the run "invoice_2023", "[ab]*x"
    // the run "x", "*" none.
    std::vector<std::vector<uint32_t>> LiteralRuns() const;

private:
    enum class Kind : uint8_t { Literal, AnyOne, Digit, Set, Star };
    struct Token {
        Kind kind;
        bool bNegated;   // Set: matches a character not in the set
        uint32_t nValue; // Literal: the folded code point; Set: first range
        uint32_t nEnd;   // Set: one past the last range
        // Set: the answer for each ASCII character, one bit each, negation included.
        std::array<uint64_t, 2> asciiAnswers = {};
        // Literal of an ASCII folding: the bytes folding to it (the same
        // twice for a character without case; 0 for other tokens), and
        // whether a character beyond ASCII folds to it too (k and s: the
        // Kelvin sign, long s).
        char cByte = 0, cOtherCase = 0;
        bool bOnlyAscii = false;
    };
    // Foldings a character may have to belong to a list; a list's ranges are
    // sorted and disjoint.
    struct Range {
        uint32_t nLow, nHigh;
    };

    void AddFoldedRange(uint32_t nLow, uint32_t nHigh);
    void MergeRanges(uint32_t nFirst);
    bool InRanges(const Token& token, uint32_t nFolded) const;
    bool MatchesOne(const Token& token, uint32_t nCodePoint) const;
    size_t NextPlaceOf(const Token& literal, std::string_view text, size_t nPos) const;

    std::vector<Token> m_tokens;
    std::vector<Range> m_ranges;
};

// Installs like(pattern, text) on the connection, so that "x LIKE y" follows
// the catalog pattern rules. A malformed pattern fails the statement with the
// matcher's message. Raises EngineError when the engine refuses.
void RegisterLikeFunction(sqlite3* pDb);
