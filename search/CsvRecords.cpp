// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/RecordFormat.h"

#include <algorithm>
#include <optional>

namespace {

// RFC 4180 with a header line and CR LF line ends. A text that is not valid
// UTF-8 is written with U+FFFD for each invalid byte; each field of
// file-system bytes has a <name>_bytes column after all others of its group
// (the fields before the first added later, then the rest), holding the
// exact bytes in hexadecimal when they are not valid UTF-8.
class CsvRecords : public RecordFormat {
public:
    void AppendHeader(std::string& strLine, std::span<const RecordField> fields) override {
        const size_t nEarly = EarlyFields(fields);
        for (const std::span<const RecordField> group :
             {fields.first(nEarly), fields.subspan(nEarly)}) {
            for (const RecordField& field : group)
                strLine += std::string(strLine.empty() ? "" : ",") + field.pszName;
            for (const RecordField& field : group)
                if (field.bBytes)
                    strLine += std::string(",") + field.pszName + "_bytes";
        }
        strLine += "\r\n";
    }

    void AppendRecord(std::string& strLine, std::span<const RecordField> fields,
                      std::span<const RecordValue> values) override {
        m_strBytesColumns.clear();
        const size_t nEarly = EarlyFields(fields);
        for (size_t i = 0; i < values.size(); ++i) {
            if (i == nEarly) {
                strLine += m_strBytesColumns;
                m_strBytesColumns.clear();
            }
            if (i > 0)
                strLine += ',';
            std::optional<std::string_view> text;
            if (const auto* pText = std::get_if<std::string_view>(&values[i]))
                text = *pText;
            else if (const auto* pList = std::get_if<TextList>(&values[i]))
                text = JoinTexts(*pList, m_strJoined);
            else
                AppendPlainValue(strLine, values[i], "true", "false");
            const bool bInvalid = text && !IsValidUtf8(*text);
            if (text)
                AppendText(strLine, *text, bInvalid);
            if (fields[i].bBytes) {
                m_strBytesColumns += ',';
                if (bInvalid)
                    AppendHex(m_strBytesColumns, *text);
            }
        }
        strLine += m_strBytesColumns;
        strLine += "\r\n";
    }

private:
    // The fields before the first added later: their <name>_bytes columns
    // come before the later fields.
    static size_t EarlyFields(std::span<const RecordField> fields) {
        return static_cast<size_t>(std::find_if(fields.begin(), fields.end(),
                                                [](const RecordField& f) { return f.bLater; }) -
                                   fields.begin());
    }

    void AppendText(std::string& strLine, std::string_view text, bool bInvalid) {
        if (bInvalid) {
            m_strValid.clear();
            SplitUtf8(
                text, [&](std::string_view run) { m_strValid.append(run); },
                [&](std::string_view) { m_strValid += "\xEF\xBF\xBD"; });
            text = m_strValid;
        }
        const auto quoted = [](char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; };
        if (std::none_of(text.begin(), text.end(), quoted)) {
            strLine.append(text);
            return;
        }
        strLine += '"';
        for (const char c : text) {
            if (c == '"')
                strLine += '"';
            strLine += c;
        }
        strLine += '"';
    }

    std::string m_strBytesColumns; // the <name>_bytes columns of the line being written
    std::string m_strJoined;
    std::string m_strValid;
};

} // namespace

std::unique_ptr<RecordFormat> MakeCsvRecords() {
    return std::make_unique<CsvRecords>();
}
