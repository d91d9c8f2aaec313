#include "scan/ScanJob.h"

#include "catalog/Catalog.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/ResultSet.h"
#include "catalog/RowAppender.h"
#include "scan/DirectoryReader.h"
#include "scan/FileChecksum.h"

#include <exception>
#include <fcntl.h>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

std::atomic<bool> g_bReloadDatabaseList{true};

namespace {

// Rows per transaction: large enough that commits cost little, small enough
// that a job stopped by a failure keeps nearly everything it had read.
constexpr uint64_t kRowsPerCommit = 5000;

// A directory whose subtree is being walked: its open descriptor, its stored
// path, and its subdirectories (names back to back, with the ids their rows
// were given) still to walk.
struct Level {
    struct Subdirectory {
        size_t nNameOffset;
        size_t nNameLength;
        int64_t nDirId;
    };

    UniqueFd fd;
    std::string strPath;
    std::string strNames;
    std::vector<Subdirectory> subdirectories;
    size_t nNext = 0;
};

class CatalogWriter {
public:
    CatalogWriter(Database& database, ScanJob& job)
        : m_database(database), m_job(job), m_dirs(database, "dirs", {"dir_name"}),
          m_files(database, "files", {"dir_id", "file_name", "file_size", "md5_checksum"}) {
        if (!m_database.InTransaction())
            m_database.BeginTransaction();
    }

    // Stores the rows of one directory's entries; its subdirectories go into
    // level for walking later.
    void ListDirectory(Level& level, int64_t nDirId) {
        DirectoryReader reader(level.fd.Get());
        DirectoryEntry entry;
        while (reader.Next(entry)) {
            if (entry.bIsDirectory) {
                const std::string strChild = JoinPath(level.strPath, entry.name);
                const int64_t nChildId = m_dirs.Append({std::string_view(strChild)});
                level.subdirectories.push_back(
                    {level.strNames.size(), entry.name.size(), nChildId});
                level.strNames.append(entry.name);
                m_job.progress.nDirs.fetch_add(1, std::memory_order_relaxed);
            } else {
                StoreFile(level, nDirId, entry);
            }
            CountRow();
        }
    }

    void Finish() {
        if (m_database.InTransaction())
            m_database.Commit();
    }

private:
    bool WantsChecksum(const DirectoryEntry& entry) const {
        if (!m_job.bChecksum || !entry.bIsRegular || !entry.nSize)
            return false;
        // The limit compares kilobytes, both sides unsigned, as the size
        // shifted right by 10: 103 423 bytes are within 100 KB, 103 424 are not.
        const auto nLimit = static_cast<uint32_t>(m_job.nMaxFileSizeKb);
        return nLimit == 0 || (static_cast<uint64_t>(*entry.nSize) >> 10) <= nLimit;
    }

    void StoreFile(const Level& level, int64_t nDirId, const DirectoryEntry& entry) {
        std::optional<std::string> checksum;
        if (WantsChecksum(entry)) {
            checksum = FileChecksumAt(level.fd.Get(), entry.pszName);
            if (checksum)
                m_job.progress.nChecksums.fetch_add(1, std::memory_order_relaxed);
        }
        FieldValue size;
        if (entry.nSize)
            size = *entry.nSize;
        FieldValue md5;
        if (checksum)
            md5 = std::string_view(*checksum);
        m_files.Append({nDirId, entry.name, size, md5});
        m_job.progress.nFiles.fetch_add(1, std::memory_order_relaxed);
    }

    void CountRow() {
        if (++m_nRows % kRowsPerCommit == 0) {
            m_database.Commit();
            m_database.BeginTransaction();
        }
    }

    Database& m_database;
    ScanJob& m_job;
    RowAppender m_dirs;
    RowAppender m_files;
    uint64_t m_nRows = 0;
};

void FlushFile(const std::string& strPath) {
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::string CollapseSeparatorPairs(std::string_view path) {
    std::string strCollapsed;
    strCollapsed.reserve(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        strCollapsed += path[i];
        if (path[i] == '/' && i + 1 < path.size() && path[i + 1] == '/')
            ++i;
    }
    return strCollapsed;
}

std::string JoinPath(std::string_view parent, std::string_view name) {
    std::string strJoined;
    strJoined.reserve(parent.size() + 1 + name.size());
    strJoined.append(parent);
    strJoined += '/';
    strJoined.append(name);
    if (strJoined.find("//") == std::string::npos)
        return strJoined;
    return CollapseSeparatorPairs(strJoined);
}

void ScanDirectory(Database& database, ScanJob& job, const std::string& strPath, int64_t nDirId) {
    CatalogWriter writer(database, job);
    // The walk keeps one level per directory on the way down instead of
    // recursing, so a deep tree costs heap, not stack.
    std::vector<Level> levels;
    Level root;
    root.fd = DirectoryReader::OpenStart(strPath);
    if (root.fd.IsValid()) {
        root.strPath = strPath;
        levels.push_back(std::move(root));
        writer.ListDirectory(levels.back(), nDirId);
    }
    while (!levels.empty()) {
        Level& top = levels.back();
        if (top.nNext == top.subdirectories.size()) {
            levels.pop_back();
            continue;
        }
        const Level::Subdirectory sub = top.subdirectories[top.nNext++];
        const std::string strName = top.strNames.substr(sub.nNameOffset, sub.nNameLength);
        Level child;
        child.fd = DirectoryReader::OpenChild(top.fd.Get(), strName.c_str());
        if (!child.fd.IsValid())
            continue; // unreadable: its row stays, with no files and no children
        child.strPath = JoinPath(top.strPath, strName);
        levels.push_back(std::move(child));
        writer.ListDirectory(levels.back(), sub.nDirId);
    }
    writer.Finish();
}

namespace {

// After a failure the counts must say what the catalog really holds: rows of
// a transaction the engine rolled back are not in it.
void CountStoredRows(Database& database, ScanOutcome& outcome) {
    try {
        auto count = [&](const char* pszSql) {
            return static_cast<uint64_t>(ResultSet(database.Prepare(pszSql)).GetInt64(0));
        };
        outcome.nDirs = count("SELECT count(*) FROM dirs");
        outcome.nFiles = count("SELECT count(*) FROM files");
        outcome.nChecksums = count("SELECT count(md5_checksum) FROM files");
    } catch (const std::exception&) {
    }
}

void BuildCatalog(Database& database, ScanJob& job) {
    if (!CreateCatalog(database, job.strCatalogPath))
        throw EngineError("No catalog path was given.");
    // A new catalog that nobody else reads: no disk flush per commit. The
    // file is flushed once when it is closed.
    database.Execute("PRAGMA synchronous=OFF");
    RowAppender dirs(database, "dirs", {"dir_name"});
    const int64_t nStartId = dirs.Append({std::string_view(job.strStartDir)});
    job.progress.nDirs.fetch_add(1, std::memory_order_relaxed);
    ScanDirectory(database, job, job.strStartDir, nStartId);
}

} // namespace

void RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

unsigned ScanThreadProc(ScanJob* pJob) {
    ScanJob& job = *pJob;
    job.outcome = ScanOutcome{};
    {
        Database database;
        try {
            BuildCatalog(database, job);
        } catch (const std::exception& error) {
            job.outcome.bFailed = true;
            job.outcome.strError = error.what();
        } catch (...) {
            job.outcome.bFailed = true;
            job.outcome.strError = "The catalog could not be written.";
        }
        job.outcome.nDirs = job.progress.nDirs.load();
        job.outcome.nFiles = job.progress.nFiles.load();
        job.outcome.nChecksums = job.progress.nChecksums.load();
        if (job.outcome.bFailed && database.IsOpen()) {
            // Keep the rows stored before the failure, if the engine still can.
            if (database.InTransaction()) {
                try {
                    database.Commit();
                } catch (const std::exception&) {
                }
            }
            CountStoredRows(database, job.outcome);
        }
        const bool bCreated = database.IsOpen();
        database.Close();
        if (bCreated)
            FlushFile(job.strCatalogPath);
    }
    g_bReloadDatabaseList.store(true);
    if (job.fnOnEnd) {
        try {
            job.fnOnEnd();
        } catch (...) {
        }
    }
    return 0;
}
