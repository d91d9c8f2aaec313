// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/ResultSet.h"

#include "catalog/EngineError.h"

#include <sqlite3.h>
#include <utility>

ResultSet::ResultSet(Statement statement) : m_statement(std::move(statement)) {
    if (!m_statement.IsReadOnly())
        throw EngineError("A result set takes only statements that read.", SQLITE_MISUSE);
    m_bEOF = !m_statement.Step();
}

ResultSet::ResultSet(Statement statement, std::vector<IdRange> ranges, int nLowParameter)
    : m_statement(std::move(statement)), m_ranges(std::move(ranges)),
      m_nLowParameter(nLowParameter) {
    if (!m_statement.IsReadOnly())
        throw EngineError("A result set takes only statements that read.", SQLITE_MISUSE);
    m_bEOF = true;
    StepRanges();
}

void ResultSet::StepRanges() {
    for (;;) {
        if (!m_bEOF && m_statement.Step())
            return;
        if (m_nNextRange == m_ranges.size()) {
            m_bEOF = true;
            return;
        }
        const IdRange& range = m_ranges[m_nNextRange++];
        m_statement.Reset();
        m_statement.BindInt64(m_nLowParameter, range.nLow);
        m_statement.BindInt64(m_nLowParameter + 1, range.nHigh);
        m_bEOF = false;
        if (m_statement.Step())
            return;
        m_bEOF = true;
    }
}

void ResultSet::MoveNext() {
    if (!m_bOpen || m_bEOF)
        return;
    if (m_nLowParameter > 0)
        StepRanges();
    else
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

int ResultSet::FieldCount() const {
    return sqlite3_column_count(m_statement.Handle());
}

bool ResultSet::IsNull(int nField) const {
    RequireRow();
    return m_statement.IsNull(nField);
}

bool ResultSet::IsInteger(int nField) const {
    RequireRow();
    return m_statement.IsInteger(nField);
}

std::string_view ResultSet::GetTextView(int nField) const {
    RequireRow();
    return m_statement.Text(nField);
}

int64_t ResultSet::GetInt64(int nField) const {
    RequireRow();
    return m_statement.Int64(nField);
}
