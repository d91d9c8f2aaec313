#pragma once

#include <cstdint>
#include <functional>
#include <string>

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

struct VerifyCounts {
    uint64_t nUnchanged = 0;
    uint64_t nChanged = 0;
    uint64_t nNotFound = 0;
    uint64_t nNotReadable = 0;
    uint64_t nNotChecked = 0;

    void Add(VerifyResult result);
    // True when every file was found as catalogued or could not be compared
    // for want of a checksum.
    bool AllPresent() const { return nChanged + nNotFound + nNotReadable == 0; }
};

// Checks every file of the open catalog, in catalog order, and tells fnReport
// the file's path and the result. A file is looked at without following a
// link; a link, FIFO, socket or device is never opened. A regular file of
// another size is changed without being read; one of the same size is read
// and its MD5 compared with the stored one (letter case and surrounding
// blanks ignored). Paths of any length are checked. Raises EngineError when
// the catalog cannot be read or the system runs out of resources.
void VerifyCatalog(Database& database,
                   const std::function<void(const std::string& strPath, VerifyResult)>& fnReport);
