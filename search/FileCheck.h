#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What checking a listed file against its catalog row found.
enum class FileCheckResult {
    NotFound,   // missing, a directory, or cannot be opened for reading
    NoChecksum, // the catalog holds no checksum for it
    Unreadable, // it opened, but reading it failed: nothing was compared
    Changed,    // its size or its digest differs from the stored one
    Unchanged,
};

// Checks the file at strPath against the stored checksum text (white space
// around it ignored, letter case ignored) and, when known, the stored size:
// a file whose size differs is changed without being read.
FileCheckResult CheckFile(const std::string& strPath, const std::string& strStoredChecksum,
                          std::optional<int64_t> nStoredSize = std::nullopt);
