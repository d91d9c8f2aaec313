#include "audit/Verify.h"

#include "catalog/CatalogInfo.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/ResultSet.h"
#include "scan/Paths.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>

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

} // namespace

void VerifyCounts::Add(VerifyResult result) {
    // In the order of the results.
    uint64_t* const counts[] = {&nUnchanged, &nChanged, &nNotFound, &nNotReadable, &nNotChecked};
    ++*counts[static_cast<size_t>(result)];
}

bool VerifyCatalog(Database& database,
                   const std::function<void(const std::string& strPath, VerifyResult)>& fnReport,
                   const VolumeLocation& location, const std::function<bool()>& fnStop) {
    std::string strStart = ReadStartDirectory(database).value_or("");
    if (!strStart.empty() && strStart[0] == '/')
        strStart = NormalPath(location.PathNow(strStart));
    else
        strStart.clear();
    DirectoryAtHand directory(std::move(strStart));
    for (ResultSet rows(database.Prepare(CatalogSql::kAllFiles)); !rows.IsEOF(); rows.MoveNext()) {
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
        fnReport(FilePath(strDir, strName),
                 CheckFileAt(nDirFd, strName.c_str(), nSize, rows.GetTextView(3)));
    }
    return true;
}
