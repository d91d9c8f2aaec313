#include "catalog/RowAppender.h"

#include "catalog/Database.h"
#include "catalog/EngineError.h"

namespace {

Statement PrepareInsert(Database& database, const std::string& strTable,
                        std::initializer_list<std::string_view> fields) {
    std::string strSql = "INSERT INTO " + strTable + "(";
    std::string strValues;
    for (std::string_view field : fields) {
        if (!strValues.empty()) {
            strSql += ", ";
            strValues += ", ";
        }
        strSql += field;
        strValues += "?";
    }
    strSql += ") VALUES (" + strValues + ")";
    return database.Prepare(strSql);
}

} // namespace

RowAppender::RowAppender(Database& database, const std::string& strTable,
                         std::initializer_list<std::string_view> fields)
    : m_database(database), m_statement(PrepareInsert(database, strTable, fields)),
      m_nFields(fields.size()) {}

int64_t RowAppender::Append(std::initializer_list<FieldValue> values) {
    if (values.size() != m_nFields)
        throw EngineError("A row to append has the wrong number of values.");
    int nIndex = 1;
    for (const FieldValue& value : values) {
        if (const auto* pNumber = std::get_if<int64_t>(&value))
            m_statement.BindInt64(nIndex, *pNumber);
        else if (const auto* pText = std::get_if<std::string_view>(&value);
                 pText && !pText->empty())
            m_statement.BindText(nIndex, *pText);
        else
            m_statement.BindNull(nIndex);
        ++nIndex;
    }
    m_statement.Run();
    return m_database.LastInsertId();
}
