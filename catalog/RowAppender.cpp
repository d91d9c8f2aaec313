// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/RowAppender.h"

#include "catalog/Database.h"
#include "catalog/EngineError.h"

RowAppender::RowAppender(Database& database, const char* pszInsertSql)
    : m_database(database), m_statement(database.Prepare(pszInsertSql)),
      m_nFields(static_cast<size_t>(m_statement.ParameterCount())) {}

int64_t RowAppender::Append(std::initializer_list<FieldValue> values) {
    if (values.size() != m_nFields)
        throw EngineError("A row to append has the wrong number of values.");
    int nIndex = 1;
    for (const FieldValue& value : values) {
        if (const auto* pNumber = std::get_if<int64_t>(&value))
            m_statement.BindInt64(nIndex, *pNumber);
        else if (const auto* pText = std::get_if<std::string_view>(&value);
                 pText && !pText->empty())
            m_statement.BindTextNoCopy(nIndex, *pText); // Run follows at once
        else
            m_statement.BindNull(nIndex);
        ++nIndex;
    }
    m_statement.Run();
    return m_database.LastInsertId();
}
