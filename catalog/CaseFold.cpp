#include "catalog/CaseFold.h"

#include <algorithm>
#include <array>

namespace {

struct FoldPair {
    uint32_t nFrom;
    uint32_t nTo;
};

constexpr FoldPair kFoldPairs[] = {
#include "catalog/CaseFoldTable.inc"
};

constexpr std::array<uint8_t, 128> MakeAsciiFold() {
    std::array<uint8_t, 128> table{};
    for (unsigned c = 0; c < 128; ++c)
        table[c] = static_cast<uint8_t>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return table;
}

constexpr std::array<uint8_t, 128> kAsciiFold = MakeAsciiFold();

} // namespace

uint32_t FoldCase(uint32_t nCodePoint) {
    if (nCodePoint < 128)
        return kAsciiFold[nCodePoint];
    const auto* pEnd = std::end(kFoldPairs);
    const auto* pFound =
        std::lower_bound(std::begin(kFoldPairs), pEnd, nCodePoint,
                         [](const FoldPair& pair, uint32_t nValue) { return pair.nFrom < nValue; });
    return pFound != pEnd && pFound->nFrom == nCodePoint ? pFound->nTo : nCodePoint;
}
