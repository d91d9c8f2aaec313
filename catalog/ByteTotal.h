// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <optional>
#include <string>
#include <string_view>

// A sum of file sizes. One file may hold up to 2^63 - 1 bytes (a sparse
// file), so a sum of them needs more than 64 bits: this never wraps for any
// number of rows a catalog can have.
using ByteTotal = unsigned __int128;

// The number in decimal digits.
std::string DecimalText(ByteTotal nValue);

// The whole of strText as decimal digits; nothing for anything else and for
// a number too large to hold.
std::optional<ByteTotal> ParseByteTotal(std::string_view strText);
