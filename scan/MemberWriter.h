// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/Database.h"
#include "catalog/RowAppender.h"
#include "scan/ArchiveReader.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

struct ScanJob;

// Stores the members of the archives a walk meets, in the catalog the
// writer fills, in its transactions: read from the archive on disk, or
// taken over from the catalog an update replaces for a file that did not
// change.
class MemberWriter : public ArchiveSink {
public:
    // Makes the member tables when they are missing. fnCountRow is called
    // for every row stored (it commits now and then). Raises EngineError.
    MemberWriter(Database& database, ScanJob& job, std::function<void()> fnCountRow);

    // Stores the members of the file nFileId, the entry pszName of the open
    // directory nDirFd. nPreviousId is the row id the file had in the former
    // catalog when it is unchanged (0 otherwise): its members are taken over
    // when that catalog read them whole with the same settings. An archive
    // that cannot be opened is stored as not read.
    void StoreMembers(int64_t nFileId, int nDirFd, const char* pszName, bool bOwned,
                      int64_t nPreviousId);

    // True once a stop left members out: an archive read part way, or not
    // read at all.
    bool LeftMembersOut() const { return m_bLeftOut; }

    // ArchiveSink
    int64_t BeginArchive(int64_t nOuterMember) override;
    int64_t Member(int64_t nArchive, const ArchiveMember& member) override;
    void MemberChecksum(int64_t nMember, const std::string& checksum) override;
    void EndArchive(int64_t nArchive, const ArchiveOutcome& outcome) override;
    bool Stopped() override;

private:
    bool TakeOver(int64_t nPreviousId);
    void StoreUnread(const std::string& strProblem);

    Database& m_database;
    ScanJob& m_job;
    std::function<void()> m_fnCountRow;
    ArchiveLimits m_limits;
    RowAppender m_archives;
    RowAppender m_members;
    Statement m_end;
    Statement m_checksum;
    int64_t m_nFileId = 0;
    // The catalog an update replaces, opened when it is first needed.
    std::optional<Database> m_previous;
    bool m_bPreviousTried = false;
    bool m_bLeftOut = false;
};
