#include "audit/Verify.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/ResultSet.h"
#include "scan/Paths.h"

#include <cerrno>
#include <optional>

namespace {

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

} // namespace

void VerifyCounts::Add(VerifyResult result) {
    // In the order of the results.
    uint64_t* const counts[] = {&nUnchanged, &nChanged, &nNotFound, &nNotReadable, &nNotChecked};
    ++*counts[static_cast<size_t>(result)];
}

bool VerifyCatalog(Database& database,
                   const std::function<void(const std::string& strPath, VerifyResult)>& fnReport,
                   const VolumeLocation& location, const std::function<bool()>& fnStop) {
    DirectoryAtHand directory;
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
