#pragma once

#include "search/FileCheck.h"
#include "volume/VolumeLocator.h"

#include <cstdint>
#include <functional>
#include <string>

class Database;

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
// entered without following links (the walk follows none). Each file is
// looked for at the path location.PathNow gives (below the mount point
// where its volume is now, when that moved; the default location leaves
// paths as stored). fnStop, when given, is asked before each file whether
// to stop. True when every file was checked, false when fnStop stopped the
// check. Raises EngineError when the catalog cannot be read or the system
// runs out of resources.
bool VerifyCatalog(Database& database,
                   const std::function<void(const std::string& strPath, VerifyResult)>& fnReport,
                   const VolumeLocation& location = {}, const std::function<bool()>& fnStop = {});
