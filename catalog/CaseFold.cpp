// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/CaseFold.h"

#include "catalog/Utf8.h"

#include <algorithm>

namespace {

constexpr CaseFolding kFoldings[] = {
#include "catalog/CaseFoldTable.inc"
};

const CaseFolding* FirstFoldingFrom(uint32_t nCodePoint) {
    return std::lower_bound(
        std::begin(kFoldings), std::end(kFoldings), nCodePoint,
        [](const CaseFolding& folding, uint32_t nValue) { return folding.nFrom < nValue; });
}

} // namespace

uint32_t FoldCaseBeyondAscii(uint32_t nCodePoint) {
    const CaseFolding* pFound = FirstFoldingFrom(nCodePoint);
    return pFound != std::end(kFoldings) && pFound->nFrom == nCodePoint ? pFound->nTo : nCodePoint;
}

std::span<const CaseFolding> FoldingsBetween(uint32_t nLow, uint32_t nHigh) {
    if (nHigh < nLow)
        return {};
    const CaseFolding* pBegin = FirstFoldingFrom(nLow);
    const CaseFolding* pEnd =
        nHigh == UINT32_MAX ? std::end(kFoldings) : FirstFoldingFrom(nHigh + 1);
    return {pBegin, pEnd};
}

void AppendFoldedText(std::string_view text, std::string& strOut) {
    for (size_t nPos = 0; nPos < text.size();) {
        size_t nLength = 1;
        const auto b = static_cast<unsigned char>(text[nPos]);
        AppendUtf8(FoldCase(b < 0x80 ? b : DecodeUtf8(text.substr(nPos), nLength)), strOut);
        nPos += nLength;
    }
}
