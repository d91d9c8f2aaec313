// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/Statement.h"

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <variant>

class Database;

// One value of a row to append: no value, a whole number, or text.
using FieldValue = std::variant<std::monostate, int64_t, std::string_view>;

// Appends rows through one prepared INSERT of CatalogSql. A catalog never
// holds an empty text: an empty text value is stored as NULL.
class RowAppender {
public:
    // Prepares the insert; raises EngineError.
    RowAppender(Database& database, const char* pszInsertSql);

    // Stores one row, values in the order of the statement's parameters;
    // returns its row id.
    int64_t Append(std::initializer_list<FieldValue> values);

private:
    Database& m_database;
    Statement m_statement;
    size_t m_nFields;
};
