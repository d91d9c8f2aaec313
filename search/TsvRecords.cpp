// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/RecordFormat.h"

#include <algorithm>

namespace {

// Tab-separated values: fields not in tsv left out, yes/no for a yes/no.
class TsvRecords : public RecordFormat {
public:
    void AppendRecord(std::string& strLine, std::span<const RecordField> fields,
                      std::span<const RecordValue> values) override {
        bool bFirst = true;
        for (size_t i = 0; i < values.size(); ++i) {
            if (!fields[i].bInTsv)
                continue;
            if (!bFirst)
                strLine += '\t';
            bFirst = false;
            if (const auto* pText = std::get_if<std::string_view>(&values[i]))
                AppendTsvField(strLine, *pText);
            else if (const auto* pList = std::get_if<TextList>(&values[i]))
                AppendTsvField(strLine, JoinTexts(*pList, m_strJoined));
            else
                AppendPlainValue(strLine, values[i], "yes", "no");
        }
        strLine += '\n';
    }
    std::string_view Separator() const override { return "\n"; }

private:
    std::string m_strJoined;
};

} // namespace

std::unique_ptr<RecordFormat> MakeTsvRecords() {
    return std::make_unique<TsvRecords>();
}

void AppendTsvField(std::string& strLine, std::string_view field) {
    // A test of each byte, not find_first_of: that looks each one up in the
    // list with a call of its own, and a search writes every path of its hits.
    const auto escaped = [](char c) { return c == '\t' || c == '\n' || c == '\r' || c == '\\'; };
    if (std::none_of(field.begin(), field.end(), escaped)) {
        strLine.append(field); // the common case: nothing to escape
        return;
    }
    for (const char c : field) {
        if (const char* pszEscape = BackslashEscape(c); pszEscape && c != '"')
            strLine += pszEscape;
        else
            strLine += c;
    }
}
