// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "search/FileCheck.h"
#include "volume/VolumeLocator.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class Database;

struct VerifyCounts {
    uint64_t nUnchanged = 0;
    uint64_t nChanged = 0;
    uint64_t nNotFound = 0;
    uint64_t nNotReadable = 0;
    uint64_t nNotChecked = 0;

    void Add(VerifyResult result, uint64_t nTimes = 1);
    // True when every file was found as catalogued or could not be compared
    // for want of a checksum.
    bool AllPresent() const { return nChanged + nNotFound + nNotReadable == 0; }
};

// What checking the members of one archive found: a member read again from
// its archive, or all the members of an archive that was not read again.
struct MemberCheck {
    // The member's path in the member form; the archive file's path for
    // members not read.
    std::string_view path;
    VerifyResult result;
    uint64_t nMembers = 1; // 1 for a member read; else the archive's members
    bool bRead = true;
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
//
// With fnMembers, a catalog that holds members of archives has them checked
// after their archive file, directories inside archives aside. An archive
// whose checksum matched has all its members as catalogued. One that is
// missing, unreadable, or no longer of its stored size and time is not read:
// its members are told once, with its path and its result (not checked when
// only its time moved and no checksum tells). Otherwise the archive is read
// again once (within the bounds the catalog was read with), and each member
// is checked as a file is, by the member of its path in the same place among
// those of that path (a path listed twice is checked copy by copy): its size,
// then its data's MD5 against the stored one; a member not there is not found (not
// readable when the archive no longer reads to its end). Nothing is written
// anywhere.
bool VerifyCatalog(Database& database,
                   const std::function<void(const std::string& strPath, VerifyResult)>& fnReport,
                   const VolumeLocation& location = {}, const std::function<bool()>& fnStop = {},
                   const std::function<void(const MemberCheck&)>& fnMembers = {});
