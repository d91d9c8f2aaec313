// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// FoldCase for code points from 128 on.
uint32_t FoldCaseBeyondAscii(uint32_t nCodePoint);

// Unicode simple case folding of one code point: the code point that all its
// case variants share (A and a give a, Ä and ä give ä, Д and д give д).
// Code points without a folding, and values beyond Unicode, come back as they are.
inline uint32_t FoldCase(uint32_t nCodePoint) {
    // Inline for ASCII: the matcher folds every character of every name searched.
    if (nCodePoint < 128)
        return nCodePoint >= 'A' && nCodePoint <= 'Z' ? nCodePoint + ('a' - 'A') : nCodePoint;
    return FoldCaseBeyondAscii(nCodePoint);
}

// Appends text with each character folded as FoldCase folds it, as UTF-8; a
// byte that is no valid UTF-8 stays itself.
void AppendFoldedText(std::string_view text, std::string& strOut);

// A code point that folds to another one, and its folding.
struct CaseFolding {
    uint32_t nFrom;
    uint32_t nTo;
};

// Every code point from nLow to nHigh that folds to another one, in code point
// order. Empty when there is none; the span views a static table.
std::span<const CaseFolding> FoldingsBetween(uint32_t nLow, uint32_t nHigh);
