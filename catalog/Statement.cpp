// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/Statement.h"

#include "catalog/Database.h"
#include "catalog/EngineError.h"

#include <sqlite3.h>
#include <string>
#include <utility>

Statement::Statement(sqlite3* pDb, std::string_view sql) : m_pDb(pDb) {
    const char* pszTail = nullptr;
    const int rc =
        sqlite3_prepare_v2(pDb, sql.data(), static_cast<int>(sql.size()), &m_pStmt, &pszTail);
    if (rc != SQLITE_OK)
        ThrowEngineError(pDb, rc);
    if (!m_pStmt)
        throw EngineError("The SQL text holds no statement.", SQLITE_MISUSE);
}

Statement::~Statement() {
    Finalize();
}

Statement::Statement(Statement&& other) noexcept
    : m_pDb(other.m_pDb), m_pStmt(std::exchange(other.m_pStmt, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        Finalize();
        m_pDb = other.m_pDb;
        m_pStmt = std::exchange(other.m_pStmt, nullptr);
    }
    return *this;
}

void Statement::Finalize() {
    if (m_pStmt) {
        sqlite3_finalize(m_pStmt);
        m_pStmt = nullptr;
    }
}

namespace {

void BindTextWith(sqlite3* pDb, sqlite3_stmt* pStmt, int nIndex, std::string_view text,
                  sqlite3_destructor_type fnKeep) {
    // A null data pointer would bind NULL; an empty text must stay a text.
    const char* pData = text.data() ? text.data() : "";
    const int rc = sqlite3_bind_text64(pStmt, nIndex, pData, text.size(), fnKeep, SQLITE_UTF8);
    if (rc != SQLITE_OK)
        ThrowEngineError(pDb, rc);
}

} // namespace

void Statement::BindText(int nIndex, std::string_view text) {
    BindTextWith(m_pDb, m_pStmt, nIndex, text, SQLITE_TRANSIENT);
}

void Statement::BindTextNoCopy(int nIndex, std::string_view text) {
    BindTextWith(m_pDb, m_pStmt, nIndex, text, SQLITE_STATIC);
}

void Statement::BindInt64(int nIndex, int64_t nValue) {
    const int rc = sqlite3_bind_int64(m_pStmt, nIndex, nValue);
    if (rc != SQLITE_OK)
        ThrowEngineError(m_pDb, rc);
}

void Statement::BindBlob(int nIndex, std::string_view bytes) {
    const int rc = sqlite3_bind_blob64(m_pStmt, nIndex, bytes.data() ? bytes.data() : "",
                                       bytes.size(), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK)
        ThrowEngineError(m_pDb, rc);
}

void Statement::BindNull(int nIndex) {
    const int rc = sqlite3_bind_null(m_pStmt, nIndex);
    if (rc != SQLITE_OK)
        ThrowEngineError(m_pDb, rc);
}

void Statement::BindFieldOf(int nIndex, const Statement& row, int nField) {
    const int rc = sqlite3_bind_value(m_pStmt, nIndex, sqlite3_column_value(row.m_pStmt, nField));
    if (rc != SQLITE_OK)
        ThrowEngineError(m_pDb, rc);
}

void Statement::Run() {
    while (Step()) {
    }
    sqlite3_reset(m_pStmt);
}

bool Statement::Step() {
    const int rc = sqlite3_step(m_pStmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    // The message must be read before the reset, which may replace it.
    const int nCode = sqlite3_extended_errcode(m_pDb);
    std::string strMessage = EngineMessage(nCode, sqlite3_errmsg(m_pDb));
    sqlite3_reset(m_pStmt);
    throw EngineError(strMessage, nCode, CatalogOfConnection(m_pDb));
}

bool Statement::IsNull(int nField) const {
    return sqlite3_column_type(m_pStmt, nField) == SQLITE_NULL;
}

bool Statement::IsInteger(int nField) const {
    return sqlite3_column_type(m_pStmt, nField) == SQLITE_INTEGER;
}

std::string_view Statement::Text(int nField) const {
    const auto* pText = reinterpret_cast<const char*>(sqlite3_column_text(m_pStmt, nField));
    if (!pText)
        return {};
    return std::string_view(pText, static_cast<size_t>(sqlite3_column_bytes(m_pStmt, nField)));
}

std::string_view Statement::Blob(int nField) const {
    const auto* pBytes = static_cast<const char*>(sqlite3_column_blob(m_pStmt, nField));
    if (!pBytes)
        return {};
    return std::string_view(pBytes, static_cast<size_t>(sqlite3_column_bytes(m_pStmt, nField)));
}

int64_t Statement::Int64(int nField) const {
    return sqlite3_column_int64(m_pStmt, nField);
}

void Statement::Reset() {
    sqlite3_reset(m_pStmt);
}

bool Statement::IsReadOnly() const {
    return sqlite3_stmt_readonly(m_pStmt) != 0;
}

int Statement::ParameterCount() const {
    return sqlite3_bind_parameter_count(m_pStmt);
}
