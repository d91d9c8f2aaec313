// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <optional>
#include <string>

// How a folder's entry is named by its st_mode, for every front end alike.

// Its kind: "directory", "file", "link", "fifo", "socket", "char-device",
// "block-device"; without a mode (a catalog that does not hold it)
// "directory" or "file" as bDirectory says.
const char* EntryKind(std::optional<uint32_t> nMode, bool bDirectory);

// Its type and permissions as ls -l writes them ("drwxr-xr-x",
// "-rwsr-x---"); empty without a mode.
std::string ModeText(std::optional<uint32_t> nMode);
