// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <optional>
#include <string>

class CResult;

// Tells, in one message box captioned "File check", whether the file at
// strPath is there and still has the checksum its catalog recorded
// (strChecksum, empty when none) and the size (when known).
void ShowFileCheck(const std::string& strPath, const std::string& strChecksum,
                   std::optional<int64_t> nStoredSize);

// Result > Check: tells whether the file of the lowest selected hit still
// exists (where its disk is mounted now) and still has the checksum its
// catalog recorded, in one message box captioned "File check"; of a disk that
// is not plugged in, which one to fetch. A member of an archive is checked
// through its archive file (CheckMember). Does nothing without a selection or
// after a search of directories.
void CheckSelectedResult(CResult& page);
