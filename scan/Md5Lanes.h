// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "scan/Md5.h"

#include <span>
#include <string_view>

// The digests of whole messages held in memory, several at once: where the
// processor has AVX2, sixteen messages are hashed together, one in each
// 32-bit lane of two sets of its vectors, several times faster than one
// after another.
// digests has one element per message.
void Md5OfMessages(std::span<const std::string_view> messages, std::span<Md5Digest> digests);
