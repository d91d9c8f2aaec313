// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/Database.h"

#include "catalog/CatalogSql.h"
#include "catalog/EngineError.h"
#include "catalog/LikeMatcher.h"
#include "catalog/PathExists.h"
#include "catalog/Statement.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// How long a statement waits for another connection's write to end. A
// catalog being built commits often, so a reader never waits long.
constexpr int kBusyTimeoutMs = 5000;

// The temporary files Create makes are named this, and six more characters.
constexpr const char* kNewDatabasePrefix = ".kestrel-new-";
constexpr size_t kNewDatabaseNameLength = 13 + 6;
// How old a temporary file of Create must be before it counts as abandoned:
// between making it and locking it its maker holds no lock yet.
constexpr time_t kAbandonedAfterSeconds = 10;

// A writer that was killed leaves a rollback journal (which a read-only
// connection cannot roll back, so every read would fail) or a write-ahead
// log (which holds committed rows). One read-write connection puts either
// right: the journal is rolled back, the log written into the file. It
// gives up at once when a live writer holds the catalog, which readers may
// read as it is; and where the folder is read-only, reading goes on anyway.
void FinishInterruptedWrite(const std::string& strPath) {
    if (!PathExists(strPath + "-journal") && !PathExists(strPath + "-wal"))
        return;
    sqlite3* pDb = nullptr;
    if (sqlite3_open_v2(strPath.c_str(), &pDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                        nullptr) == SQLITE_OK) {
        sqlite3_exec(pDb, "SELECT count(*) FROM sqlite_schema; PRAGMA journal_mode=DELETE", nullptr,
                     nullptr, nullptr);
    }
    sqlite3_close_v2(pDb);
}

} // namespace

std::string EngineMessage(int rc, const char* pszEngineMessage) {
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED)
        return "The catalog is busy: another program is writing it. Try again when it is done.";
    return pszEngineMessage ? pszEngineMessage : "unknown database engine error";
}

std::string CatalogOfConnection(sqlite3* pDb) {
    const char* pszFile = pDb ? sqlite3_db_filename(pDb, "main") : nullptr;
    return pszFile ? pszFile : "";
}

void ThrowEngineError(sqlite3* pDb, int rc) {
    throw EngineError(EngineMessage(rc, pDb ? sqlite3_errmsg(pDb) : sqlite3_errstr(rc)), rc,
                      CatalogOfConnection(pDb));
}

Database::~Database() {
    Close();
}

Database::Database(Database&& other) noexcept
    : m_pDb(std::exchange(other.m_pDb, nullptr)),
      m_bWritable(std::exchange(other.m_bWritable, false)) {}

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        Close();
        m_pDb = std::exchange(other.m_pDb, nullptr);
        m_bWritable = std::exchange(other.m_bWritable, false);
    }
    return *this;
}

void Database::Open(const std::string& strPath, OpenMode mode) {
    Close();
    // Opening a FIFO or a device would wait for a writer that never comes.
    struct stat st {};
    if (::stat(strPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw EngineError("'" + strPath + "' is not a catalog file", SQLITE_CANTOPEN, strPath);
    if (mode == OpenMode::ReadOnly)
        FinishInterruptedWrite(strPath);
    const int nFlags = (mode == OpenMode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                       SQLITE_OPEN_NOMUTEX;
    sqlite3* pDb = nullptr;
    const int rc = sqlite3_open_v2(strPath.c_str(), &pDb, nFlags, nullptr);
    if (rc != SQLITE_OK) {
        std::string strMessage = EngineMessage(rc, pDb ? sqlite3_errmsg(pDb) : sqlite3_errstr(rc));
        sqlite3_close_v2(pDb);
        throw EngineError(strMessage + ": '" + strPath + "'", rc, strPath);
    }
    m_pDb = pDb;
    m_bWritable = mode == OpenMode::ReadWrite;
    sqlite3_extended_result_codes(m_pDb, 1);
    sqlite3_busy_timeout(m_pDb, kBusyTimeoutMs);
    try {
        RegisterLikeFunction(m_pDb);
    } catch (...) {
        Close();
        throw;
    }
}

void Database::Create(const std::string& strPath, const std::string& strSchemaSql,
                      const std::function<void(Database&)>& fnFirstRows) {
    Close();
    auto fail = [&](int nErr) {
        throw EngineError("Cannot create database file '" + strPath + "': " + std::strerror(nErr));
    };
    const size_t nSlash = strPath.rfind('/');
    std::string strTemp =
        (nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash + 1)) +
        kNewDatabasePrefix + "XXXXXX";
    const int fd = ::mkstemp(strTemp.data());
    if (fd < 0)
        fail(errno);
    // Held until the file is in place, so a writer cleaning up after killed
    // programs can tell this file from one whose maker is gone.
    ::flock(fd, LOCK_EX | LOCK_NB);
    ::fchmod(fd, 0644);
    struct CloseLater {
        int fd;
        ~CloseLater() { ::close(fd); }
    } holder{fd};
    try {
        Open(strTemp, OpenMode::ReadWrite);
        Execute("BEGIN;" + strSchemaSql);
        if (fnFirstRows)
            fnFirstRows(*this);
        Execute("COMMIT");
        Close();
    } catch (...) {
        Close();
        ::unlink((strTemp + "-journal").c_str());
        ::unlink(strTemp.c_str());
        throw;
    }
    // In place in one step, and never over anything that is there already.
    int rc = ::renameat2(AT_FDCWD, strTemp.c_str(), AT_FDCWD, strPath.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system that cannot rename without replacing: a new link
        // fails just as well when the name is taken.
        rc = ::link(strTemp.c_str(), strPath.c_str());
        if (rc == 0)
            ::unlink(strTemp.c_str());
    }
    if (rc != 0) {
        const int nErr = errno;
        ::unlink(strTemp.c_str());
        fail(nErr);
    }
    Open(strPath, OpenMode::ReadWrite);
}

void Database::Close() {
    if (!m_pDb)
        return;
    if (m_bWritable && sqlite3_get_autocommit(m_pDb)) {
        // A catalog written with a log goes back to a plain single file, so
        // it opens anywhere, also read-only. Fails harmlessly while a reader
        // holds it: the log then stays until the next open for reading.
        sqlite3_exec(m_pDb, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    }
    sqlite3_close_v2(m_pDb);
    m_pDb = nullptr;
    m_bWritable = false;
}

void Database::RequireOpen() const {
    if (!m_pDb)
        throw EngineError("The database is not open.", SQLITE_MISUSE);
}

void Database::Execute(const std::string& strSql) {
    RequireOpen();
    char* pszError = nullptr;
    const int rc = sqlite3_exec(m_pDb, strSql.c_str(), nullptr, nullptr, &pszError);
    if (rc != SQLITE_OK) {
        std::string strMessage = EngineMessage(rc, pszError ? pszError : sqlite3_errstr(rc));
        sqlite3_free(pszError);
        throw EngineError(strMessage, rc, CatalogOfConnection(m_pDb));
    }
}

Statement Database::Prepare(std::string_view sql) {
    RequireOpen();
    return Statement(m_pDb, sql);
}

int64_t Database::QueryInt64(std::string_view sql) {
    Statement statement = Prepare(sql);
    return statement.Step() ? statement.Int64(0) : 0;
}

void Database::Interrupt() {
    if (m_pDb)
        sqlite3_interrupt(m_pDb);
}

bool Database::HasTable(std::string_view table) {
    Statement statement = Prepare(CatalogSql::kHasTable);
    statement.BindText(1, table);
    return statement.Step() && statement.Int64(0) > 0;
}

void Database::BeginTransaction() {
    Execute("BEGIN");
}

void Database::Commit() {
    Execute("COMMIT");
}

bool Database::InTransaction() const {
    return m_pDb && sqlite3_get_autocommit(m_pDb) == 0;
}

int64_t Database::LastInsertId() const {
    RequireOpen();
    return sqlite3_last_insert_rowid(m_pDb);
}

bool IsAbandonedNewDatabase(const std::string& strFolder, std::string_view name) {
    if (name.size() < kNewDatabaseNameLength || name.substr(0, 13) != kNewDatabasePrefix)
        return false;
    const std::string_view rest = name.substr(kNewDatabaseNameLength);
    if (!rest.empty() && rest != "-journal")
        return false;
    const std::string strFile = strFolder + std::string(name);
    struct stat st {};
    if (::lstat(strFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_mtime > ::time(nullptr) - kAbandonedAfterSeconds)
        return false;
    const std::string strMain = strFolder + std::string(name.substr(0, kNewDatabaseNameLength));
    const int fd = ::open(strMain.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT; // a journal whose file is gone
    const bool bHeld = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return !bHeld;
}
