// SPDX-License-Identifier: GPL-3.0-or-later

#include "audit/Verify.h"

#include "catalog/CatalogInfo.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/MemberPath.h"
#include "catalog/ResultSet.h"
#include "scan/ArchiveReader.h"
#include "scan/FileChecksum.h"
#include "scan/Paths.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

// The folder strRest (names separated by '/') below the open folder
// nFromFd, opened one name at a time without following a link: the walk
// never entered one, so a link in a folder's place is no catalogued folder
// (errno ENOTDIR then). Invalid, with errno, when a name cannot be opened.
UniqueFd OpenWithoutLinks(int nFromFd, std::string_view rest) {
    UniqueFd dir(::fcntl(nFromFd, F_DUPFD_CLOEXEC, 0));
    for (size_t nPos = 0; dir.IsValid() && nPos < rest.size();) {
        const size_t nEnd = std::min(rest.find('/', nPos), rest.size());
        const std::string strName(rest.substr(nPos, nEnd - nPos));
        nPos = nEnd + 1;
        UniqueFd next(
            ::openat(dir.Get(), strName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        const int nErr = errno;
        dir = std::move(next);
        errno = nErr == ELOOP ? ENOTDIR : nErr;
    }
    return dir;
}

// The directory whose files are being checked, opened once for all of them.
// The start directory is opened as typed (links followed); the folders
// below it without following any.
class DirectoryAtHand {
public:
    // strStart: where the start directory is now, in its normal form; empty
    // when the catalog names none.
    explicit DirectoryAtHand(std::string strStart) : m_strStart(std::move(strStart)) {}

    // The open directory strPath (in its normal form, so every spelling of
    // one directory opens it once); -1 with the errno of the failure.
    int Get(std::string_view path) {
        std::string strPath = NormalPath(path);
        if (!m_bOpened || strPath != m_strPath) {
            UniqueFd fd = Open(strPath);
            m_nError = fd.IsValid() ? 0 : errno;
            m_fd = std::move(fd);
            m_strPath = std::move(strPath);
            m_bOpened = true;
        }
        errno = m_nError;
        return m_fd.Get();
    }

private:
    static bool IsBelow(std::string_view below) { return below.empty() || below[0] != '/'; }

    UniqueFd Open(const std::string& strPath) {
        const std::string_view below = PathBelow(strPath, m_strStart);
        if (m_strStart.empty() || !IsBelow(below))
            return OpenDirectoryPath(strPath);
        // Most folders come after the folder above them: from there it is
        // one name further.
        if (m_bOpened && m_fd.IsValid() && IsBelow(PathBelow(m_strPath, m_strStart))) {
            const std::string_view belowLast = PathBelow(strPath, m_strPath);
            if (IsBelow(belowLast))
                return OpenWithoutLinks(m_fd.Get(), belowLast);
        }
        if (!m_bStartOpened) {
            m_start = OpenDirectoryPath(m_strStart);
            m_nStartError = m_start.IsValid() ? 0 : errno;
            m_bStartOpened = true;
        }
        if (!m_start.IsValid()) {
            errno = m_nStartError;
            return UniqueFd();
        }
        return OpenWithoutLinks(m_start.Get(), below);
    }

    std::string m_strStart;
    bool m_bStartOpened = false;
    UniqueFd m_start;
    int m_nStartError = 0;
    std::string m_strPath;
    bool m_bOpened = false;
    UniqueFd m_fd;
    int m_nError = 0;
};

// A file time the catalog does not hold.
constexpr int64_t kNoTime = INT64_MIN;

// One member of an archive as the catalog stores it, and what reading the
// archive again found of it.
struct StoredMember {
    std::string strSuffix; // its path after the archive file's, from the first separator
    std::optional<int64_t> nSize;
    std::string strChecksum;
    bool bFound = false;
    std::optional<int64_t> nSizeNow;
    std::optional<std::string> checksumNow;
};

// Reads an archive again as the catalog was made, once for all its members,
// and gives each stored member what the reading found of the member of its
// path that comes in the same place among those of that path (an archive
// appended to may list a path twice; members are stored in the archive's
// order). One pass: finding each member by reading from the archive's start
// would read a compressed archive of n members about n/2 times over.
class MemberMatcher : public ArchiveSink {
public:
    MemberMatcher(std::vector<StoredMember>& members, const std::function<bool()>& fnStop)
        : m_members(members), m_fnStop(fnStop) {
        for (size_t i = 0; i < m_members.size(); ++i)
            m_ofPath[m_members[i].strSuffix].stored.push_back(i);
    }

    // Whether some archive in the file could not be read to its end: a
    // member not seen may lie beyond.
    bool Incomplete() const { return m_bIncomplete; }

    int64_t BeginArchive(int64_t nOuterMember) override {
        std::string strPrefix;
        if (const auto it = m_innerPaths.find(nOuterMember); it != m_innerPaths.end())
            strPrefix = it->second;
        m_archivePrefixes.push_back(std::move(strPrefix));
        return static_cast<int64_t>(m_archivePrefixes.size());
    }
    int64_t Member(int64_t nArchive, const ArchiveMember& member) override {
        std::string strSuffix = m_archivePrefixes[static_cast<size_t>(nArchive - 1)];
        strSuffix.append(kMemberSeparator).append(member.strPath);
        const int64_t nId = ++m_nMembers;
        // Only an archive's name makes the reader look inside a member.
        if (IsArchiveName(member.strPath))
            m_innerPaths.emplace(nId, strSuffix);
        const auto it = m_ofPath.find(strSuffix);
        if (it == m_ofPath.end() || it->second.nNext == it->second.stored.size())
            return nId;
        const size_t nStored = it->second.stored[it->second.nNext++];
        StoredMember& stored = m_members[nStored];
        stored.bFound = true;
        stored.nSizeNow = member.nSize;
        stored.checksumNow = member.checksum;
        m_pending.emplace(nId, nStored);
        return nId;
    }
    void MemberChecksum(int64_t nMember, const std::string& checksum) override {
        if (const auto it = m_pending.find(nMember); it != m_pending.end())
            m_members[it->second].checksumNow = checksum;
    }
    void EndArchive(int64_t, const ArchiveOutcome& outcome) override {
        if (!outcome.bComplete)
            m_bIncomplete = true;
    }
    bool Stopped() override { return m_fnStop && m_fnStop(); }

private:
    std::vector<StoredMember>& m_members;
    const std::function<bool()>& m_fnStop;
    // The stored members of each path, in order, and how many were met.
    struct SamePath {
        std::vector<size_t> stored;
        size_t nNext = 0;
    };
    std::unordered_map<std::string_view, SamePath> m_ofPath;
    std::vector<std::string> m_archivePrefixes;            // by archive id - 1
    std::unordered_map<int64_t, std::string> m_innerPaths; // members that may be archives
    std::unordered_map<int64_t, size_t> m_pending;         // member id, stored member
    int64_t m_nMembers = 0;
    bool m_bIncomplete = false;
};

// What reading the archive again found of a stored member.
VerifyResult ResultOf(const StoredMember& member, bool bIncomplete) {
    if (!member.bFound)
        return bIncomplete ? VerifyResult::NotReadable : VerifyResult::NotFound;
    if (member.nSize && member.nSizeNow && *member.nSize != *member.nSizeNow)
        return VerifyResult::Changed;
    const std::string_view checksum = TrimmedChecksum(member.strChecksum);
    if (checksum.empty())
        return VerifyResult::NotChecked;
    if (!member.checksumNow)
        return VerifyResult::NotReadable;
    return SameChecksum(*member.checksumNow, checksum) ? VerifyResult::Unchanged
                                                       : VerifyResult::Changed;
}

// Checks the members of the archive file pszName of the open directory
// nDirFd (stored as strArchive, with its size and time), whose own check gave
// fileResult, as VerifyCatalog tells. False when fnStop stopped it.
bool CheckMembersOf(Database& database, int64_t nFileId, int nDirFd, const char* pszName,
                    const std::string& strArchive, std::optional<int64_t> nStoredSize,
                    int64_t nStoredMtime, VerifyResult fileResult,
                    const std::function<void(const MemberCheck&)>& fnMembers,
                    const std::function<bool()>& fnStop) {
    std::vector<StoredMember> members;
    {
        Statement statement = database.Prepare(CatalogSql::kMembersOfFile);
        statement.BindInt64(1, nFileId);
        statement.BindText(2, kMemberSeparator);
        for (ResultSet rows(std::move(statement)); !rows.IsEOF(); rows.MoveNext()) {
            if (!rows.IsNull(2) && S_ISDIR(static_cast<mode_t>(rows.GetInt64(2))))
                continue;
            StoredMember member;
            member.strSuffix = rows.GetText(0);
            if (!rows.IsNull(1))
                member.nSize = rows.GetInt64(1);
            if (!rows.IsNull(3))
                member.strChecksum = rows.GetText(3);
            members.push_back(std::move(member));
        }
    }
    if (members.empty())
        return true;
    const auto allAs = [&](VerifyResult result) {
        fnMembers({strArchive, result, members.size(), false});
        return true;
    };
    // The same bytes as catalogued: so are the members in them.
    if (fileResult == VerifyResult::Unchanged)
        return allAs(VerifyResult::Unchanged);
    if (fileResult == VerifyResult::NotFound || fileResult == VerifyResult::NotReadable)
        return allAs(fileResult);
    struct stat st {};
    if (::fstatat(nDirFd, pszName, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return allAs(errno == ENOENT ? VerifyResult::NotFound : VerifyResult::NotReadable);
    static const uid_t kUid = ::geteuid();
    const UniqueFd fd(OpenForChecksum(nDirFd, pszName, kUid == 0 || st.st_uid == kUid));
    if (!fd.IsValid() || ::fstat(fd.Get(), &st) != 0) {
        const int nErr = errno;
        if (IsResourceShortage(nErr))
            ThrowShortage(nErr, "check");
        return allAs(nErr == ENOENT ? VerifyResult::NotFound : VerifyResult::NotReadable);
    }
    if (!S_ISREG(st.st_mode) || (nStoredSize && *nStoredSize != st.st_size))
        return allAs(VerifyResult::Changed);
    const int64_t nMtime =
        static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (nStoredMtime != kNoTime && nStoredMtime != nMtime)
        return allAs(fileResult == VerifyResult::Changed ? VerifyResult::Changed
                                                         : VerifyResult::NotChecked);
    // The bounds the catalog was read with: as deep as its members go, and
    // hashing members no larger than the largest one that has a checksum.
    ArchiveLimits limits;
    for (const StoredMember& member : members) {
        const int nDepth =
            static_cast<int>(SplitMemberPath(strArchive + member.strSuffix).size()) - 1;
        limits.nMaxDepth = std::max(limits.nMaxDepth, nDepth);
        if (TrimmedChecksum(member.strChecksum).empty())
            continue;
        limits.bChecksum = true;
        limits.nMaxChecksumBytes = std::max<uint64_t>(
            limits.nMaxChecksumBytes,
            static_cast<uint64_t>(std::max<int64_t>(member.nSize.value_or(0), 0)));
    }
    MemberMatcher matcher(members, fnStop);
    const bool bArchive = ReadArchive(fd.Get(), static_cast<uint64_t>(st.st_size), limits, matcher);
    if (fnStop && fnStop())
        return false;
    std::string strPath;
    for (const StoredMember& member : members) {
        strPath.assign(strArchive).append(member.strSuffix);
        fnMembers({strPath, ResultOf(member, !bArchive || matcher.Incomplete())});
    }
    return true;
}

} // namespace

void VerifyCounts::Add(VerifyResult result, uint64_t nTimes) {
    // In the order of the results.
    uint64_t* const counts[] = {&nUnchanged, &nChanged, &nNotFound, &nNotReadable, &nNotChecked};
    *counts[static_cast<size_t>(result)] += nTimes;
}

bool VerifyCatalog(Database& database,
                   const std::function<void(const std::string& strPath, VerifyResult)>& fnReport,
                   const VolumeLocation& location, const std::function<bool()>& fnStop,
                   const std::function<void(const MemberCheck&)>& fnMembers) {
    std::string strStart = ReadStartDirectory(database).value_or("");
    if (!strStart.empty() && strStart[0] == '/')
        strStart = NormalPath(location.PathNow(strStart));
    else
        strStart.clear();
    DirectoryAtHand directory(std::move(strStart));
    // The files whose data is an archive with members, when they are checked.
    std::vector<int64_t> archiveFiles;
    const bool bMembers =
        fnMembers && database.HasTable("archives") && database.HasTable("archive_members");
    if (bMembers)
        for (ResultSet rows(database.Prepare(CatalogSql::kArchiveFileIds)); !rows.IsEOF();
             rows.MoveNext())
            archiveFiles.push_back(rows.GetInt64(0));
    const char* pszFiles = !bMembers ? CatalogSql::kAllFiles
                           : database.QueryInt64(CatalogSql::kHasFileTimes) > 0
                               ? CatalogSql::kAllFilesWithIds
                               : CatalogSql::kAllFilesWithIdsWithoutTimes;
    for (ResultSet rows(database.Prepare(pszFiles)); !rows.IsEOF(); rows.MoveNext()) {
        if (fnStop && fnStop())
            return false;
        const std::string strDir = rows.GetText(0);
        const std::string strName = rows.GetText(1);
        // Rows stored relative to a folder the catalog does not name would
        // be checked against whatever the working directory holds.
        if (!strDir.empty() && strDir[0] != '/')
            throw EngineError("The catalog records its paths relative to a folder it does not "
                              "name ('" +
                              strDir + "'): they cannot be checked against the disk");
        std::optional<int64_t> nSize;
        if (!rows.IsNull(2))
            nSize = rows.GetInt64(2);
        const int nDirFd = directory.Get(location.PathNow(strDir));
        const std::string strPath = FilePath(strDir, strName);
        const VerifyResult result =
            CheckFileAt(nDirFd, strName.c_str(), nSize, rows.GetTextView(3));
        fnReport(strPath, result);
        if (!bMembers ||
            !std::binary_search(archiveFiles.begin(), archiveFiles.end(), rows.GetInt64(4)))
            continue;
        // Its directory again: the check of the file may have left errno anywhere.
        const int nArchiveDirFd = directory.Get(location.PathNow(strDir));
        const int64_t nMtime = rows.IsNull(5) ? kNoTime : rows.GetInt64(5);
        if (!CheckMembersOf(database, rows.GetInt64(4), nArchiveDirFd, strName.c_str(), strPath,
                            nSize, nMtime, result, fnMembers, fnStop))
            return false;
    }
    return true;
}
