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

// True when every byte of text is part of a valid UTF-8 sequence.
bool IsValidUtf8(std::string_view text);
