#pragma once

#include "search/FileCheck.h"

#include <cstdint>
#include <functional>
#include <string>

class Database;
struct VolumeLocation;

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

// Checks every file of the open catalog, in catalog order, as CheckFileAt
// does, and tells fnReport the file's stored path and the result. Paths of
// any length are checked; the folders below the start directory are
// entered without following links (the walk follows none). With pLocation,
// files are looked for where their volume is mounted now (see
// VolumeLocation::PathNow). Raises EngineError when the catalog cannot be
// read or the system runs out of resources.
void VerifyCatalog(Database& database,
                   const std::function<void(const std::string& strPath, VerifyResult)>& fnReport,
                   const VolumeLocation* pLocation = nullptr);
