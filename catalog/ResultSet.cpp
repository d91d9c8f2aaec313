#include "catalog/ResultSet.h"

#include "catalog/EngineError.h"

#include <sqlite3.h>
#include <utility>

ResultSet::ResultSet(Statement statement) : m_statement(std::move(statement)) {
    if (!m_statement.IsReadOnly())
        throw EngineError("A result set takes only statements that read.", SQLITE_MISUSE);
    m_bEOF = !m_statement.Step();
}

void ResultSet::MoveNext() {
    if (!m_bOpen || m_bEOF)
        return;
    m_bEOF = !m_statement.Step();
}

void ResultSet::Close() {
    if (m_bOpen) {
        m_statement.Reset();
        m_bOpen = false;
        m_bEOF = true;
    }
}

void ResultSet::RequireRow() const {
    if (!m_bOpen || m_bEOF)
        throw EngineError("No current row in the result set.", SQLITE_MISUSE);
}

bool ResultSet::IsNull(int nField) const {
    RequireRow();
    return sqlite3_column_type(m_statement.Handle(), nField) == SQLITE_NULL;
}

std::string_view ResultSet::GetTextView(int nField) const {
    RequireRow();
    sqlite3_stmt* pStmt = m_statement.Handle();
    const auto* pText = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, nField));
    if (!pText)
        return {};
    return std::string_view(pText, static_cast<size_t>(sqlite3_column_bytes(pStmt, nField)));
}

int64_t ResultSet::GetInt64(int nField) const {
    RequireRow();
    return sqlite3_column_int64(m_statement.Handle(), nField);
}
