// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/Ranges.h"
#include "catalog/Statement.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A read-only, forward-only pass over the rows of one query. It takes a
// prepared statement whose parameters are bound, and stands on the first row
// (or at the end) once constructed. Fields are addressed by position from 0.
class ResultSet {
public:
    // Raises EngineError when the statement could change the catalog, or when
    // the engine fails to produce the first row.
    explicit ResultSet(Statement statement);
    // The same over stretches of row ids: the statement's parameters
    // nLowParameter and nLowParameter + 1 take each stretch's ends in turn,
    // and the rows of all stretches follow one another.
    ResultSet(Statement statement, std::vector<IdRange> ranges, int nLowParameter);

    bool IsEOF() const { return m_bEOF; }
    // Moves to the next row; raises EngineError on an engine failure.
    void MoveNext();
    // Ends the pass; afterwards IsOpen() is false and IsEOF() true.
    void Close();
    bool IsOpen() const { return m_bOpen; }

    // How many fields each row has.
    int FieldCount() const;
    // True when the field holds no value (NULL).
    bool IsNull(int nField) const;
    // True when the field holds a whole number as such (not a text or real).
    bool IsInteger(int nField) const;
    // The field's bytes; empty for NULL. The view lasts until the next move.
    std::string_view GetTextView(int nField) const;
    std::string GetText(int nField) const { return std::string(GetTextView(nField)); }
    int64_t GetInt64(int nField) const;

private:
    void RequireRow() const;
    // Steps on, through the next stretches when one runs out.
    void StepRanges();

    Statement m_statement;
    std::vector<IdRange> m_ranges;
    size_t m_nNextRange = 0;
    int m_nLowParameter = 0;
    bool m_bOpen = true;
    bool m_bEOF = false;
};
