#include "audit/Verify.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/ResultSet.h"
#include "scan/DirectoryReader.h"
#include "scan/FileChecksum.h"
#include "scan/Paths.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void ThrowShortage(int nErr) {
    throw EngineError(std::string("The check ran out of system resources: ") + std::strerror(nErr));
}

// A directory path opened for looking at its entries: whole when the system
// takes it, else one component at a time, so paths past PATH_MAX work too.
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

VerifyResult ResultOfMissing(int nErr) {
    if (IsResourceShortage(nErr))
        ThrowShortage(nErr);
    return nErr == ENOENT || nErr == ENOTDIR ? VerifyResult::NotFound : VerifyResult::NotReadable;
}

// The directory whose files are being checked, opened once for all of them.
class DirectoryAtHand {
public:
    // The open directory strPath (in its normal form, so every spelling of
    // one directory opens it once); -1 with the errno of the failure.
    int Get(std::string_view path) {
        std::string strPath = NormalPath(path);
        if (!m_bOpened || strPath != m_strPath) {
            m_strPath = std::move(strPath);
            m_bOpened = true;
            m_fd = OpenDirectoryPath(m_strPath);
            m_nError = m_fd.IsValid() ? 0 : errno;
        }
        errno = m_nError;
        return m_fd.Get();
    }

private:
    std::string m_strPath;
    bool m_bOpened = false;
    UniqueFd m_fd;
    int m_nError = 0;
};

VerifyResult CheckEntry(int nDirFd, const char* pszName, std::optional<int64_t> nStoredSize,
                        std::string_view storedChecksum) {
    struct stat st {};
    if (::fstatat(nDirFd, pszName, &st, AT_SYMLINK_NOFOLLOW) != 0)
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
            ThrowShortage(errno);
        // Unreadable, or it grew past its size while being read: not the
        // file that was catalogued, but nothing to compare either.
        return errno == 0 ? VerifyResult::Changed : VerifyResult::NotReadable;
    }
    return SameChecksum(*current, stored) ? VerifyResult::Unchanged : VerifyResult::Changed;
}

} // namespace

void VerifyCounts::Add(VerifyResult result) {
    switch (result) {
    case VerifyResult::Unchanged:
        ++nUnchanged;
        break;
    case VerifyResult::Changed:
        ++nChanged;
        break;
    case VerifyResult::NotFound:
        ++nNotFound;
        break;
    case VerifyResult::NotReadable:
        ++nNotReadable;
        break;
    case VerifyResult::NotChecked:
        ++nNotChecked;
        break;
    }
}

void VerifyCatalog(Database& database,
                   const std::function<void(const std::string& strPath, VerifyResult)>& fnReport) {
    DirectoryAtHand directory;
    for (ResultSet rows(database.Prepare(CatalogSql::kAllFiles)); !rows.IsEOF(); rows.MoveNext()) {
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
        const int nDirFd = directory.Get(strDir);
        const VerifyResult result =
            nDirFd < 0 ? ResultOfMissing(errno)
                       : CheckEntry(nDirFd, strName.c_str(), nSize, rows.GetTextView(3));
        fnReport(FilePath(strDir, strName), result);
    }
}
