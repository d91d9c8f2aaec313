// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/Utf8.h"

namespace {

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

} // namespace

uint32_t DecodeUtf8(std::string_view text, size_t& nLength) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t nSize = text.size();
    const unsigned char c0 = p[0];
    nLength = 1;
    if (c0 < 0x80)
        return c0;
    if (c0 >= 0xC2 && c0 <= 0xDF) {
        if (nSize >= 2 && IsContinuation(p[1])) {
            nLength = 2;
            return (uint32_t(c0 & 0x1F) << 6) | (p[1] & 0x3F);
        }
    } else if (c0 >= 0xE0 && c0 <= 0xEF) {
        // Excludes overlong forms (E0 80..9F) and surrogates (ED A0..BF).
        const unsigned char nLow = c0 == 0xE0 ? 0xA0 : 0x80;
        const unsigned char nHigh = c0 == 0xED ? 0x9F : 0xBF;
        if (nSize >= 3 && p[1] >= nLow && p[1] <= nHigh && IsContinuation(p[2])) {
            nLength = 3;
            return (uint32_t(c0 & 0x0F) << 12) | (uint32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        }
    } else if (c0 >= 0xF0 && c0 <= 0xF4) {
        // Excludes overlong forms (F0 80..8F) and values past U+10FFFF.
        const unsigned char nLow = c0 == 0xF0 ? 0x90 : 0x80;
        const unsigned char nHigh = c0 == 0xF4 ? 0x8F : 0xBF;
        if (nSize >= 4 && p[1] >= nLow && p[1] <= nHigh && IsContinuation(p[2]) &&
            IsContinuation(p[3])) {
            nLength = 4;
            return (uint32_t(c0 & 0x07) << 18) | (uint32_t(p[1] & 0x3F) << 12) |
                   (uint32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
        }
    }
    return kInvalidUtf8Base + c0;
}

void AppendUtf8(uint32_t c, std::string& strOut) {
    if (c < 0x80) {
        strOut += static_cast<char>(c);
    } else if (c >= kInvalidUtf8Base) {
        strOut += static_cast<char>(c - kInvalidUtf8Base);
    } else if (c < 0x800) {
        strOut += static_cast<char>(0xC0 | (c >> 6));
        strOut += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        strOut += static_cast<char>(0xE0 | (c >> 12));
        strOut += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        strOut += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        strOut += static_cast<char>(0xF0 | (c >> 18));
        strOut += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        strOut += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        strOut += static_cast<char>(0x80 | (c & 0x3F));
    }
}
