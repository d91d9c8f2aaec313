// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/RecordFormat.h"

#include <algorithm>

namespace {

// One JSON object a line (NDJSON). A text of file-system bytes that is not
// valid UTF-8 has each invalid byte XX written as \udcXX (as Python's
// surrogateescape reads it) and "<name>_bytes" after it with the exact bytes
// in hexadecimal; for a list, an array of those, null for each valid text.
// A field added later is left out of a record without a value for it.
class JsonRecords : public RecordFormat {
public:
    void AppendRecord(std::string& strLine, std::span<const RecordField> fields,
                      std::span<const RecordValue> values) override {
        strLine += '{';
        for (size_t i = 0; i < values.size(); ++i) {
            const RecordField& field = fields[i];
            const RecordValue& value = values[i];
            if (field.bLater && std::holds_alternative<std::monostate>(value))
                continue;
            strLine += std::string(i > 0 ? ",\"" : "\"") + field.pszName + "\":";
            if (std::holds_alternative<std::monostate>(value)) {
                strLine += "null";
            } else if (const auto* pText = std::get_if<std::string_view>(&value)) {
                AppendString(strLine, *pText);
                if (field.bBytes && !IsValidUtf8(*pText)) {
                    strLine += std::string(",\"") + field.pszName + "_bytes\":\"";
                    AppendHex(strLine, *pText);
                    strLine += '"';
                }
            } else if (const auto* pList = std::get_if<TextList>(&value)) {
                AppendList(strLine, field, *pList->pItems);
            } else if (const auto* pTime = std::get_if<TimeNs>(&value)) {
                // A time's text is plain ASCII: it is quoted as it is.
                strLine += '"';
                AppendPlainValue(strLine, *pTime, "", "");
                strLine += '"';
            } else {
                AppendPlainValue(strLine, value, "true", "false");
            }
        }
        strLine += "}\n";
    }

private:
    static void AppendList(std::string& strLine, const RecordField& field,
                           const std::vector<std::string>& items) {
        strLine += '[';
        std::string strBytes; // each text's exact bytes, null where it is valid
        bool bInvalid = false;
        for (const std::string& strItem : items) {
            const char* pszComma = &strItem != items.data() ? "," : "";
            strLine += pszComma;
            AppendString(strLine, strItem);
            strBytes += pszComma;
            if (field.bBytes && !IsValidUtf8(strItem)) {
                bInvalid = true;
                strBytes += '"';
                AppendHex(strBytes, strItem);
                strBytes += '"';
            } else {
                strBytes += "null";
            }
        }
        strLine += ']';
        if (bInvalid)
            strLine += std::string(",\"") + field.pszName + "_bytes\":[" + strBytes + "]";
    }

    static void AppendString(std::string& strLine, std::string_view text) {
        strLine += '"';
        SplitUtf8(
            text,
            [&](std::string_view run) {
                if (IsPlain(run)) { // the common case: printable ASCII
                    strLine.append(run);
                    return;
                }
                for (const char c : run) {
                    const auto u = static_cast<unsigned char>(c);
                    if (const char* pszEscape = BackslashEscape(c)) {
                        strLine += pszEscape;
                    } else if (u < 0x20 || u == 0x7F) {
                        strLine += "\\u00";
                        AppendHex(strLine, std::string_view(&c, 1));
                    } else {
                        strLine += c;
                    }
                }
            },
            [&](std::string_view byte) {
                strLine += "\\udc";
                AppendHex(strLine, byte);
            });
        strLine += '"';
    }

    static bool IsPlain(std::string_view text) {
        return std::all_of(text.begin(), text.end(),
                           [](char c) { return c >= 0x20 && c != 0x7F && c != '"' && c != '\\'; });
    }
};

} // namespace

std::unique_ptr<RecordFormat> MakeJsonRecords() {
    return std::make_unique<JsonRecords>();
}
