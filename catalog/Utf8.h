// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Texts are UTF-8 byte strings; a byte that is not part of a valid sequence
// stands for itself, as the character kInvalidUtf8Base + the byte, ordered
// after every code point.
inline constexpr uint32_t kInvalidUtf8Base = 0x110000;

// Decodes the UTF-8 character at the start of text (which must not be empty).
// Returns its code point and sets nLength to its byte count; a byte that does
// not begin a valid sequence gives kInvalidUtf8Base + the byte, with length 1.
uint32_t DecodeUtf8(std::string_view text, size_t& nLength);

// Appends the character c as UTF-8; kInvalidUtf8Base + a byte as that byte.
void AppendUtf8(uint32_t c, std::string& strOut);

// Text with each byte that is not part of valid UTF-8 passed to fnInvalid (as
// a text of that byte), the valid runs to fnValid.
template <typename Valid, typename Invalid>
void SplitUtf8(std::string_view text, Valid fnValid, Invalid fnInvalid) {
    size_t nRun = 0, nPos = 0;
    while (nPos < text.size()) {
        if (static_cast<unsigned char>(text[nPos]) < 0x80) {
            ++nPos;
            continue;
        }
        size_t nLength = 0;
        if (DecodeUtf8(text.substr(nPos), nLength) < kInvalidUtf8Base) {
            nPos += nLength;
            continue;
        }
        fnValid(text.substr(nRun, nPos - nRun));
        fnInvalid(text.substr(nPos, 1));
        nRun = ++nPos;
    }
    fnValid(text.substr(nRun));
}

// True when every byte of text is part of a valid UTF-8 sequence.
inline bool IsValidUtf8(std::string_view text) {
    bool bValid = true;
    SplitUtf8(
        text, [](std::string_view) {}, [&](std::string_view) { bValid = false; });
    return bValid;
}
