// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/FileCheck.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/Statement.h"
#include "scan/ArchiveReader.h"
#include "scan/FileChecksum.h"
#include "scan/Paths.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

VerifyResult ResultOfMissing(int nErr) {
    if (IsResourceShortage(nErr))
        ThrowShortage(nErr, "check");
    return nErr == ENOENT || nErr == ENOTDIR ? VerifyResult::NotFound : VerifyResult::NotReadable;
}

} // namespace

UniqueFd OpenDirectoryPath(const std::string& strPath) {
    if (strPath.size() < PATH_MAX) {
        UniqueFd fd(::open(strPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.IsValid() || errno != ENAMETOOLONG)
            return fd;
    }
    UniqueFd dir(::open(strPath[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    size_t nPos = 0;
    while (dir.IsValid() && nPos < strPath.size()) {
        const size_t nEnd = std::min(strPath.find('/', nPos), strPath.size());
        const std::string strPart = strPath.substr(nPos, nEnd - nPos);
        nPos = nEnd + 1;
        if (strPart.empty())
            continue;
        dir = UniqueFd(::openat(dir.Get(), strPart.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    return dir;
}

VerifyResult CheckFileAt(int nDirFd, const char* pszName, std::optional<int64_t> nStoredSize,
                         std::string_view storedChecksum) {
    struct stat st {};
    if (nDirFd < 0 || ::fstatat(nDirFd, pszName, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return ResultOfMissing(errno);
    if (S_ISDIR(st.st_mode))
        return VerifyResult::NotFound;
    if (nStoredSize && *nStoredSize != st.st_size)
        return VerifyResult::Changed;
    const std::string_view stored = TrimmedChecksum(storedChecksum);
    if (!S_ISREG(st.st_mode) || stored.empty())
        return VerifyResult::NotChecked;
    static const uid_t kUid = ::geteuid();
    const bool bOwned = kUid == 0 || st.st_uid == kUid;
    errno = 0;
    const std::optional<std::string> current =
        FileChecksumAt(nDirFd, pszName, bOwned, static_cast<uint64_t>(st.st_size));
    if (!current) {
        if (errno == ENOENT)
            return VerifyResult::NotFound;
        if (IsResourceShortage(errno))
            ThrowShortage(errno, "check");
        // Unreadable, or it grew past its size while being read: not the
        // file that was catalogued, but nothing to compare either.
        return errno == 0 ? VerifyResult::Changed : VerifyResult::NotReadable;
    }
    return SameChecksum(*current, stored) ? VerifyResult::Unchanged : VerifyResult::Changed;
}

FileCheckResult CheckFile(const std::string& strPath, std::string_view storedChecksum,
                          std::optional<int64_t> nStoredSize) {
    const std::string strNormal = NormalPath(strPath);
    const size_t nSlash = strNormal.find_last_of('/');
    const UniqueFd dir = OpenDirectoryPath(nSlash == std::string::npos ? "."
                                           : nSlash == 0               ? "/"
                                                         : strNormal.substr(0, nSlash));
    const char* pszName = strNormal.c_str() + (nSlash == std::string::npos ? 0 : nSlash + 1);
    const VerifyResult result = CheckFileAt(dir.Get(), pszName, nStoredSize, storedChecksum);
    if (result == VerifyResult::NotFound || result == VerifyResult::Unchanged)
        return result == VerifyResult::NotFound ? FileCheckResult::NotFound
                                                : FileCheckResult::Unchanged;
    if (TrimmedChecksum(storedChecksum).empty())
        return FileCheckResult::NoChecksum;
    return result == VerifyResult::Changed ? FileCheckResult::Changed : FileCheckResult::Unreadable;
}

std::optional<StoredFile> FindStoredFile(Database& database, std::string_view path) {
    const auto [strDir, strName] = SplitFolderAndName(path);
    Statement file = database.Prepare(database.QueryInt64(CatalogSql::kHasFileTimes) > 0
                                          ? CatalogSql::kFileByPath
                                          : CatalogSql::kFileByPathWithoutTimes);
    file.BindText(1, strDir);
    file.BindText(2, strName);
    if (!file.Step())
        return std::nullopt;
    StoredFile stored;
    if (!file.IsNull(0) && file.Int64(0) >= 0)
        stored.nSize = file.Int64(0);
    if (!file.IsNull(1))
        stored.nMtimeNs = file.Int64(1);
    return stored;
}

FileCheckResult CheckMember(const std::string& strArchive,
                            const std::vector<std::string>& memberPath, const StoredFile& archive,
                            std::string_view storedChecksum) {
    struct stat st {};
    if (::lstat(strArchive.c_str(), &st) != 0) {
        const int nErr = errno;
        if (IsResourceShortage(nErr))
            ThrowShortage(nErr, "check");
        return nErr == ENOENT || nErr == ENOTDIR ? FileCheckResult::NotFound
                                                 : FileCheckResult::Unreadable;
    }
    if (S_ISDIR(st.st_mode))
        return FileCheckResult::NotFound;
    if (!S_ISREG(st.st_mode))
        return FileCheckResult::Unreadable;
    const int64_t nMtimeNs =
        static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if ((archive.nSize && *archive.nSize != st.st_size) ||
        (archive.nMtimeNs && *archive.nMtimeNs != nMtimeNs))
        return FileCheckResult::Changed;
    const std::string_view stored = TrimmedChecksum(storedChecksum);
    if (stored.empty())
        return FileCheckResult::NoChecksum;
    const UniqueFd fd(::open(strArchive.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.IsValid()) {
        if (IsResourceShortage(errno))
            ThrowShortage(errno, "check");
        return errno == ENOENT ? FileCheckResult::NotFound : FileCheckResult::Unreadable;
    }
    // The member is read whatever its size: it is asked for by name.
    ArchiveLimits limits;
    limits.bChecksum = true;
    limits.nMaxChecksumBytes = UINT64_MAX;
    const MemberData data =
        ReadMemberData(fd.Get(), static_cast<uint64_t>(st.st_size), memberPath, limits);
    if (!data.bFound)
        return FileCheckResult::Changed;
    if (!data.checksum)
        return FileCheckResult::Unreadable;
    return SameChecksum(*data.checksum, stored) ? FileCheckResult::Unchanged
                                                : FileCheckResult::Changed;
}
