// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/ByteTotal.h"

#include <algorithm>

std::string DecimalText(ByteTotal nValue) {
    std::string strText;
    do {
        strText += static_cast<char>('0' + static_cast<int>(nValue % 10));
        nValue /= 10;
    } while (nValue != 0);
    std::reverse(strText.begin(), strText.end());
    return strText;
}

std::optional<ByteTotal> ParseByteTotal(std::string_view strText) {
    if (strText.empty())
        return std::nullopt;
    constexpr ByteTotal kMax = ~ByteTotal(0);
    ByteTotal nValue = 0;
    for (const char c : strText) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const unsigned nDigit = static_cast<unsigned>(c - '0');
        if (nValue > (kMax - nDigit) / 10)
            return std::nullopt;
        nValue = nValue * 10 + nDigit;
    }
    return nValue;
}
