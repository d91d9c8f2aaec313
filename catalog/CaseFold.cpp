#include "catalog/CaseFold.h"

#include <algorithm>
#include <array>

namespace {

constexpr CaseFolding kFoldings[] = {
#include "catalog/CaseFoldTable.inc"
};

constexpr std::array<uint8_t, 128> MakeAsciiFold() {
    std::array<uint8_t, 128> table{};
    for (unsigned c = 0; c < 128; ++c)
        table[c] = static_cast<uint8_t>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return table;
}

constexpr std::array<uint8_t, 128> kAsciiFold = MakeAsciiFold();

const CaseFolding* FirstFoldingFrom(uint32_t nCodePoint) {
    return std::lower_bound(
        std::begin(kFoldings), std::end(kFoldings), nCodePoint,
        [](const CaseFolding& folding, uint32_t nValue) { return folding.nFrom < nValue; });
}

} // namespace

uint32_t FoldCase(uint32_t nCodePoint) {
    if (nCodePoint < 128)
        return kAsciiFold[nCodePoint];
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
