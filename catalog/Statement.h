// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// One compiled SQL statement with positional parameters (?), numbered from 1.
class Statement {
public:
    Statement(sqlite3* pDb, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;

    // Binds a copy of the text.
    void BindText(int nIndex, std::string_view text);
    // Binds the text without copying it: the caller keeps it alive and
    // unchanged until the statement has run (Run) or is reset.
    void BindTextNoCopy(int nIndex, std::string_view text);
    void BindInt64(int nIndex, int64_t nValue);
    // Binds a copy of bytes as a BLOB.
    void BindBlob(int nIndex, std::string_view bytes);
    void BindNull(int nIndex);
    // Binds the value of a field of another statement's current row as it
    // is stored, with its type (text stays text, a real number stays real).
    void BindFieldOf(int nIndex, const Statement& row, int nField);

    // Runs a statement that returns no rows (an INSERT), then resets it for
    // the next set of values.
    void Run();
    // Advances to the next result row; false at the end.
    bool Step();
    // The current row's fields, by position from 0; a text's view lasts until
    // the next Step or Reset, and is empty for NULL.
    bool IsNull(int nField) const;
    // True when the field holds a whole number as such (not a text or real).
    bool IsInteger(int nField) const;
    std::string_view Text(int nField) const;
    std::string_view Blob(int nField) const;
    int64_t Int64(int nField) const;
    void Reset();
    // True when the statement cannot change the database.
    bool IsReadOnly() const;
    // How many parameters the statement takes.
    int ParameterCount() const;

    sqlite3_stmt* Handle() const { return m_pStmt; }

private:
    void Finalize();

    sqlite3* m_pDb = nullptr;
    sqlite3_stmt* m_pStmt = nullptr;
};
