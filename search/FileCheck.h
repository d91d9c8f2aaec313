// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "scan/DirectoryReader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class Database;

// What checking one catalogued file against the disk found.
enum class VerifyResult {
    Unchanged,   // the same size and the same checksum
    Changed,     // another size, or another checksum
    NotFound,    // nothing of that name is there any more (or a directory is)
    NotReadable, // it is there, but it (or its directory) cannot be read
    NotChecked,  // it is there with its size, but no checksum says more: none
                 // was stored, or it is no regular file (a link, FIFO, device)
};

// Checks the entry pszName of the open directory nDirFd (-1 with errno set
// when the directory could not be opened) against its stored size, when
// known, and checksum (letter case and surrounding blanks ignored). The
// entry is looked at without following a link; a link, FIFO, socket or
// device is never opened. A regular file of another size is changed without
// being read; one of the same size is read and its MD5 compared. Raises
// EngineError when the system runs out of resources.
VerifyResult CheckFileAt(int nDirFd, const char* pszName, std::optional<int64_t> nStoredSize,
                         std::string_view storedChecksum);

// The answers of the File check of a listed file.
enum class FileCheckResult {
    NotFound,   // missing, or a directory
    NoChecksum, // the catalog holds no checksum for it
    Unreadable, // it is there, but it was not read: it cannot be, or it is no regular file
    Changed,    // its size or its digest differs from the stored one
    Unchanged,
};

// Checks the file at strPath as CheckFileAt does, and answers as the File
// check does: a row without a checksum is said to have none once its file
// is found, whatever its size.
FileCheckResult CheckFile(const std::string& strPath, std::string_view storedChecksum,
                          std::optional<int64_t> nStoredSize = std::nullopt);

// A directory path opened for looking at its entries: whole when the system
// takes it, else one component at a time, so paths past PATH_MAX work too.
// Invalid with errno set when it cannot be opened.
UniqueFd OpenDirectoryPath(const std::string& strPath);

// What a catalog stores of a file: its size and time, each when known.
struct StoredFile {
    std::optional<int64_t> nSize;
    std::optional<int64_t> nMtimeNs;
};

// The file at path, as results show it (its directory's path and its
// name), in the open catalog; nothing when the catalog holds none there.
std::optional<StoredFile> FindStoredFile(Database& database, std::string_view path);

// Checks a member of an archive, as the File check does: the archive file at
// strArchive must be there with the size and time stored (each when known;
// another is a change, told without reading it); then, when the member has a
// stored checksum, the member at memberPath (its path inside the archive, then
// inside each archive within, ArchiveMemberPath) is read from the archive and
// its MD5 compared. A member no longer in the archive is changed; one whose
// data cannot be read whole is unreadable. Raises EngineError when the system
// runs out of resources.
FileCheckResult CheckMember(const std::string& strArchive,
                            const std::vector<std::string>& memberPath, const StoredFile& archive,
                            std::string_view storedChecksum);
