#include "catalog/Database.h"

#include "catalog/EngineError.h"
#include "catalog/LikeMatcher.h"
#include "catalog/Statement.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>
#include <utility>

void ThrowEngineError(sqlite3* pDb, int rc) {
    const char* pszMessage = pDb ? sqlite3_errmsg(pDb) : sqlite3_errstr(rc);
    throw EngineError(pszMessage ? pszMessage : "unknown database engine error", rc);
}

Database::~Database() {
    Close();
}

Database::Database(Database&& other) noexcept : m_pDb(std::exchange(other.m_pDb, nullptr)) {}

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        Close();
        m_pDb = std::exchange(other.m_pDb, nullptr);
    }
    return *this;
}

void Database::Open(const std::string& strPath, OpenMode mode) {
    Close();
    const int nFlags = (mode == OpenMode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                       SQLITE_OPEN_NOMUTEX;
    sqlite3* pDb = nullptr;
    const int rc = sqlite3_open_v2(strPath.c_str(), &pDb, nFlags, nullptr);
    if (rc != SQLITE_OK) {
        std::string strMessage = pDb ? sqlite3_errmsg(pDb) : sqlite3_errstr(rc);
        sqlite3_close_v2(pDb);
        throw EngineError(strMessage + ": '" + strPath + "'", rc);
    }
    m_pDb = pDb;
    sqlite3_extended_result_codes(m_pDb, 1);
    try {
        RegisterLikeFunction(m_pDb);
    } catch (...) {
        Close();
        throw;
    }
}

void Database::Create(const std::string& strPath) {
    Close();
    // The engine would happily open an existing file; a catalog is always a
    // new file, so claim the name first and let that fail if it is taken.
    const int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int nErr = errno;
        throw EngineError("Cannot create database file '" + strPath + "': " + std::strerror(nErr));
    }
    ::close(fd);
    Open(strPath, OpenMode::ReadWrite);
}

void Database::Close() {
    if (m_pDb) {
        sqlite3_close_v2(m_pDb);
        m_pDb = nullptr;
    }
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
        std::string strMessage = pszError ? pszError : sqlite3_errstr(rc);
        sqlite3_free(pszError);
        throw EngineError(strMessage, rc);
    }
}

Statement Database::Prepare(std::string_view sql) {
    RequireOpen();
    return Statement(m_pDb, sql);
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
