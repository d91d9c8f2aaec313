// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using Md5Digest = std::array<uint8_t, 16>;

// The MD5 message digest of RFC 1321, fed in runs of any length.
class Md5Context {
public:
    Md5Context() { Init(); }

    // Starts a new message.
    void Init();
    // Adds nSize bytes (zero too) to the message.
    void Update(const void* pData, size_t nSize);
    // Ends the message and returns its digest; the context is cleared and
    // starts a new, empty message.
    Md5Digest Finish();
    // Goes on with a message whose first nBytes (a multiple of 64) were
    // hashed elsewhere and left state (A, B, C, D).
    void Resume(const uint32_t state[4], uint64_t nBytes);

private:
    void Transform(const uint8_t* pBlock);

    uint32_t m_state[4];
    uint64_t m_nBytes;
    uint8_t m_buffer[64];
};

// The digest as 32 lowercase hexadecimal digits, byte 0 first, high nibble first.
std::string DigestToHex(const Md5Digest& digest);

// The digest a stored checksum text spells (32 hexadecimal digits in either
// letter case); false for any other text.
bool HexToDigest(std::string_view text, Md5Digest& digest);
