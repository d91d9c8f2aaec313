// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct sqlite3;
class Statement;

// One connection to a catalog file. Every connection has the catalog's own
// like(pattern, text) function, so the LIKE operator follows catalog pattern
// rules. All failures raise EngineError with the engine's text.
class Database {
public:
    enum class OpenMode { ReadOnly, ReadWrite };

    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    Database(Database&& other) noexcept;
    Database& operator=(Database&& other) noexcept;

    // Opens an existing database file; never creates one, and never opens
    // anything but a regular file (a FIFO or device named like a catalog
    // would block). Opening for reading first finishes what a writer that
    // was stopped left behind (its journal is rolled back, its log written
    // into the file) where the folder allows it. A connection waits a few
    // seconds for another program's write to end, then fails as busy.
    void Open(const std::string& strPath, OpenMode mode);
    // Creates a new database file at strPath holding what strSchemaSql makes,
    // and opens it for writing. The file is made whole beside strPath and
    // then put in place, so no reader ever finds it without its tables.
    // Fails when anything exists at strPath already. fnFirstRows, when given,
    // writes rows into the new file before it is put in place, in the same
    // transaction as the tables, so no reader finds the file without them.
    void Create(const std::string& strPath, const std::string& strSchemaSql = {},
                const std::function<void(Database&)>& fnFirstRows = {});
    // Closes the connection (a no-op when closed). A connection that wrote
    // leaves the file whole, with no log beside it, where it can. Statements
    // still alive are finalised when they are destroyed.
    void Close();
    bool IsOpen() const { return m_pDb != nullptr; }

    // Runs one or more SQL statements that take no parameters.
    void Execute(const std::string& strSql);
    // Compiles one statement for binding and running.
    Statement Prepare(std::string_view sql);
    // The first field of the first row a statement without parameters
    // gives (a count, a largest id), 0 when it gives no row or NULL.
    int64_t QueryInt64(std::string_view sql);
    // Whether the database has a table of that name.
    bool HasTable(std::string_view table);
    // Makes the statement running on the connection, on whatever thread,
    // stop and raise EngineError soon; the only call another thread may make
    // while the connection is in use (not while it opens or closes).
    void Interrupt();

    void BeginTransaction();
    void Commit();
    // True while a transaction begun here (or by SQL) is open.
    bool InTransaction() const;
    // The identifier given to the row most recently inserted on this connection.
    int64_t LastInsertId() const;

    sqlite3* Handle() const { return m_pDb; }

private:
    void RequireOpen() const;

    sqlite3* m_pDb = nullptr;
    bool m_bWritable = false;
};

// Raises EngineError with the connection's current message for result code
// rc; a database that stays locked by another program's write is told in
// plain words.
[[noreturn]] void ThrowEngineError(sqlite3* pDb, int rc);

// The file a connection has open ("" for none, or one in memory), as the
// engine names it.
std::string CatalogOfConnection(sqlite3* pDb);

// The text of an engine failure of result code rc, with the engine's message.
std::string EngineMessage(int rc, const char* pszEngineMessage);

// Whether the file strName in strFolder is one Database::Create was making
// when its program ended (its temporary file, or that file's journal): no
// live program holds it, and it is older than a few seconds.
bool IsAbandonedNewDatabase(const std::string& strFolder, std::string_view name);
