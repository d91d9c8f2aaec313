// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/MemberWriter.h"

#include "catalog/CatalogSql.h"
#include "catalog/EngineError.h"
#include "scan/DirectoryReader.h"
#include "scan/FileChecksum.h"
#include "scan/PreviousCatalog.h"
#include "scan/ScanJob.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unordered_map>

namespace {

FieldValue OptionalNumber(const std::optional<int64_t>& nValue) {
    return nValue ? FieldValue(*nValue) : FieldValue();
}

std::string_view NameOfPath(std::string_view path) {
    const size_t nSlash = path.rfind('/');
    return nSlash == std::string_view::npos ? path : path.substr(nSlash + 1);
}

Database& WithMemberTables(Database& database) {
    database.Execute(CatalogSql::kCreateMemberTables);
    return database;
}

} // namespace

MemberWriter::MemberWriter(Database& database, ScanJob& job, std::function<void()> fnCountRow)
    : m_database(database), m_job(job), m_fnCountRow(std::move(fnCountRow)),
      m_archives(WithMemberTables(database), CatalogSql::kInsertArchive),
      m_members(database, CatalogSql::kInsertMember),
      m_end(database.Prepare(CatalogSql::kEndArchive)),
      m_checksum(database.Prepare(CatalogSql::kSetMemberChecksum)) {
    m_limits.bChecksum = job.bChecksum;
    m_limits.nMaxChecksumBytes = ChecksumByteLimit(job);
    m_limits.nMaxDepth = job.nArchiveDepth;
}

void MemberWriter::StoreMembers(int64_t nFileId, int nDirFd, const char* pszName, bool bOwned,
                                int64_t nPreviousId) {
    if (Stopped())
        return; // the build ends: the catalog will say it is incomplete
    m_nFileId = nFileId;
    if (nPreviousId != 0 && TakeOver(nPreviousId))
        return;
    UniqueFd fd(OpenForChecksum(nDirFd, pszName, bOwned));
    if (!fd.IsValid()) {
        const int nErr = errno;
        if (nErr == ENOMEM)
            ThrowShortage(nErr);
        StoreUnread(std::string("it cannot be opened: ") + std::strerror(nErr));
        return;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return; // replaced by something that is no file since it was listed
    ReadArchive(fd.Get(), static_cast<uint64_t>(st.st_size), m_limits, *this);
}

void MemberWriter::StoreUnread(const std::string& strProblem) {
    const int64_t nArchive = BeginArchive(0);
    ArchiveOutcome outcome;
    outcome.bComplete = false;
    outcome.strProblem = strProblem;
    EndArchive(nArchive, outcome);
}

int64_t MemberWriter::BeginArchive(int64_t nOuterMember) {
    const int64_t nId =
        m_archives.Append({m_nFileId, nOuterMember != 0 ? FieldValue(nOuterMember) : FieldValue()});
    m_fnCountRow();
    return nId;
}

int64_t MemberWriter::Member(int64_t nArchive, const ArchiveMember& member) {
    const std::string_view path = member.strPath;
    const int64_t nId = m_members.Append(
        {nArchive, path, NameOfPath(path), OptionalNumber(member.nSize),
         OptionalNumber(member.nMtimeNs), static_cast<int64_t>(member.nMode),
         member.checksum ? FieldValue(std::string_view(*member.checksum)) : FieldValue(),
         int64_t(member.bEncrypted ? 1 : 0)});
    ++m_job.outcome.nMembers;
    m_fnCountRow();
    return nId;
}

void MemberWriter::MemberChecksum(int64_t nMember, const std::string& checksum) {
    m_checksum.BindText(1, checksum);
    m_checksum.BindInt64(2, nMember);
    m_checksum.Run();
}

void MemberWriter::EndArchive(int64_t nArchive, const ArchiveOutcome& outcome) {
    if (outcome.strFormat.empty())
        m_end.BindNull(1);
    else
        m_end.BindText(1, outcome.strFormat);
    m_end.BindInt64(2, outcome.bComplete ? 1 : 0);
    if (outcome.strProblem.empty())
        m_end.BindNull(3);
    else
        m_end.BindText(3, outcome.strProblem);
    m_end.BindInt64(4, static_cast<int64_t>(outcome.nBytesRead));
    m_end.BindInt64(5, static_cast<int64_t>(outcome.nMembers));
    m_end.BindInt64(6, nArchive);
    m_end.Run();
    ++m_job.outcome.nArchives;
    if (!outcome.bComplete)
        ++m_job.outcome.nUnreadArchives;
}

bool MemberWriter::Stopped() {
    if (!m_job.bStopRequested.load(std::memory_order_relaxed))
        return false;
    m_bLeftOut = true;
    return true;
}

// Copies the archives of the former catalog's file nPreviousId, when every
// one of them was read whole; false when there is nothing to take over.
bool MemberWriter::TakeOver(int64_t nPreviousId) {
    PreviousCatalog* pPrevious = m_job.pPrevious;
    if (!pPrevious || !pPrevious->LendsMembers())
        return false;
    if (!m_bPreviousTried) {
        m_bPreviousTried = true;
        try {
            m_previous.emplace();
            m_previous->Open(pPrevious->Path(), Database::OpenMode::ReadOnly);
            if (!m_previous->HasTable("archives") || !m_previous->HasTable("archive_members"))
                m_previous.reset();
        } catch (const EngineError&) {
            m_previous.reset();
        }
    }
    if (!m_previous)
        return false;
    struct Archive {
        int64_t nOldId, nOldMember;
        bool bHasFormat;
        std::string strFormat;
        int64_t nBytes;
        int64_t nMembers;
    };
    std::vector<Archive> archives;
    {
        Statement rows = m_previous->Prepare(CatalogSql::kArchivesOfFile);
        rows.BindInt64(1, nPreviousId);
        while (rows.Step()) {
            // Read again what was not read whole (it may read whole now),
            // and rows not as Kestrel writes them.
            if (!rows.IsInteger(3) || rows.Int64(3) != 1 || rows.Int64(7) != 1)
                return false;
            archives.push_back({rows.Int64(0), rows.IsNull(1) ? 0 : rows.Int64(1), !rows.IsNull(2),
                                std::string(rows.Text(2)), rows.Int64(5), rows.Int64(6)});
        }
    }
    if (archives.empty())
        return false;
    // Rows another program changed are not trusted: the file is read again
    // unless each archive holds as many members as it was stored with, all
    // of them as Kestrel writes them, and each nested archive lies in a
    // member of one taken over before it.
    {
        Statement owner = m_previous->Prepare(CatalogSql::kArchiveOfMember);
        Statement sound = m_previous->Prepare(CatalogSql::kSoundMembersOfArchive);
        std::unordered_map<int64_t, bool> earlier;
        for (const Archive& archive : archives) {
            sound.BindInt64(1, archive.nOldId);
            const bool bSound = sound.Step() && sound.Int64(0) == archive.nMembers &&
                                sound.Int64(1) == archive.nMembers;
            sound.Reset();
            if (!bSound)
                return false;
            if (archive.nOldMember != 0) {
                owner.BindInt64(1, archive.nOldMember);
                const bool bKnown = owner.Step() && earlier.count(owner.Int64(0)) > 0;
                owner.Reset();
                if (!bKnown)
                    return false;
            }
            earlier[archive.nOldId] = true;
        }
    }
    std::unordered_map<int64_t, int64_t> memberIds; // former id, new id
    Statement members = m_previous->Prepare(CatalogSql::kMembersOfArchive);
    for (const Archive& archive : archives) {
        int64_t nOuter = 0;
        if (archive.nOldMember != 0) {
            // Checked above; a member listed twice keeps its first copy's id.
            const auto it = memberIds.find(archive.nOldMember);
            nOuter = it != memberIds.end() ? it->second : 0;
        }
        const int64_t nArchive = BeginArchive(nOuter);
        members.BindInt64(1, archive.nOldId);
        ArchiveOutcome outcome;
        while (members.Step()) {
            if (outcome.nMembers % 1024 == 0 && Stopped()) {
                outcome.bComplete = false;
                outcome.strProblem = "the reading was stopped";
                break;
            }
            ArchiveMember member;
            member.strPath = members.Text(1);
            if (!members.IsNull(3))
                member.nSize = members.Int64(3);
            if (!members.IsNull(4))
                member.nMtimeNs = members.Int64(4);
            member.nMode = static_cast<uint32_t>(members.Int64(5));
            if (!members.IsNull(6))
                member.checksum = std::string(members.Text(6));
            member.bEncrypted = members.Int64(7) != 0;
            memberIds.emplace(members.Int64(0), Member(nArchive, member));
            ++outcome.nMembers;
        }
        members.Reset();
        if (archive.bHasFormat)
            outcome.strFormat = archive.strFormat;
        outcome.nBytesRead = static_cast<uint64_t>(archive.nBytes);
        EndArchive(nArchive, outcome);
        if (!outcome.bComplete)
            break;
        ++m_job.outcome.nArchivesReused;
    }
    return true;
}
