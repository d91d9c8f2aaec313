#include "search/RecordWriter.h"

#include "catalog/Utf8.h"

#include <charconv>
#include <climits>
#include <ctime>

namespace {

constexpr const char* kHexDigits = "0123456789abcdef";

void AppendHex(std::string& strLine, std::string_view bytes) {
    for (const char c : bytes) {
        strLine += kHexDigits[static_cast<unsigned char>(c) >> 4];
        strLine += kHexDigits[static_cast<unsigned char>(c) & 15];
    }
}

// Text with every byte that is not part of valid UTF-8 passed to fnInvalid,
// the valid runs to fnValid.
template <typename Valid, typename Invalid>
void SplitUtf8(std::string_view text, Valid fnValid, Invalid fnInvalid) {
    size_t nRun = 0, nPos = 0;
    while (nPos < text.size()) {
        if (static_cast<unsigned char>(text[nPos]) < 0x80) {
            ++nPos;
            continue;
        }
        size_t nLength = 0;
        if (DecodeUtf8(text.substr(nPos), nLength) < kInvalidUtf8Base) {
            nPos += nLength;
            continue;
        }
        fnValid(text.substr(nRun, nPos - nRun));
        fnInvalid(static_cast<unsigned char>(text[nPos]));
        nRun = ++nPos;
    }
    fnValid(text.substr(nRun));
}

bool IsPlainJson(std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F || c == '"' || c == '\\')
            return false;
    }
    return true;
}

void AppendJsonString(std::string& strLine, std::string_view text) {
    strLine += '"';
    if (IsPlainJson(text)) { // the common case: printable ASCII
        strLine.append(text);
        strLine += '"';
        return;
    }
    SplitUtf8(
        text,
        [&](std::string_view run) {
            for (const char c : run) {
                const auto u = static_cast<unsigned char>(c);
                if (c == '"' || c == '\\') {
                    strLine += '\\';
                    strLine += c;
                } else if (c == '\n') {
                    strLine += "\\n";
                } else if (c == '\r') {
                    strLine += "\\r";
                } else if (c == '\t') {
                    strLine += "\\t";
                } else if (u < 0x20 || u == 0x7F) {
                    strLine += "\\u00";
                    strLine += kHexDigits[u >> 4];
                    strLine += kHexDigits[u & 15];
                } else {
                    strLine += c;
                }
            }
        },
        [&](unsigned char u) {
            strLine += "\\udc";
            strLine += kHexDigits[u >> 4];
            strLine += kHexDigits[u & 15];
        });
    strLine += '"';
}

// bValid: the text is valid UTF-8, as the caller has made sure; otherwise
// each invalid byte is written as U+FFFD.
void AppendCsvText(std::string& strLine, std::string_view text, bool bValid) {
    std::string strValid;
    if (!bValid) {
        SplitUtf8(
            text, [&](std::string_view run) { strValid.append(run); },
            [&](unsigned char) { strValid += "\xEF\xBF\xBD"; });
        text = strValid;
    }
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
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

} // namespace

void AppendTsvField(std::string& strLine, std::string_view field) {
    if (field.find_first_of("\t\n\r\\") == std::string_view::npos) {
        strLine.append(field); // the common case: nothing to escape
        return;
    }
    for (const char c : field) {
        switch (c) {
        case '\t':
            strLine += "\\t";
            break;
        case '\n':
            strLine += "\\n";
            break;
        case '\r':
            strLine += "\\r";
            break;
        case '\\':
            strLine += "\\\\";
            break;
        default:
            strLine += c;
        }
    }
}

bool ParseOutputFormat(const std::string& strText, OutputFormat& format) {
    if (strText == "tsv")
        format = OutputFormat::Tsv;
    else if (strText == "csv")
        format = OutputFormat::Csv;
    else if (strText == "json")
        format = OutputFormat::Json;
    else
        return false;
    return true;
}

void AppendIsoTime(std::string& strLine, int64_t nNs) {
    int64_t nSeconds = nNs / 1000000000;
    int64_t nFraction = nNs % 1000000000;
    if (nFraction < 0) {
        nFraction += 1000000000;
        --nSeconds;
    }
    // Files written together share their second: its text is made once.
    static thread_local int64_t s_nLastSeconds = INT64_MIN;
    static thread_local std::string s_strLastSeconds;
    if (nSeconds != s_nLastSeconds) {
        const std::time_t tTime = static_cast<std::time_t>(nSeconds);
        std::tm utc{};
        ::gmtime_r(&tTime, &utc);
        char szText[64];
        const size_t nLength = std::strftime(szText, sizeof szText, "%Y-%m-%dT%H:%M:%S", &utc);
        s_strLastSeconds.assign(szText, nLength);
        s_nLastSeconds = nSeconds;
    }
    strLine += s_strLastSeconds;
    if (nFraction != 0) {
        // Nine digits, then without the zeros at the end.
        char szFraction[9];
        for (int n = 8; n >= 0; --n, nFraction /= 10)
            szFraction[n] = static_cast<char>('0' + nFraction % 10);
        size_t nLength = sizeof szFraction;
        while (szFraction[nLength - 1] == '0')
            --nLength;
        strLine += '.';
        strLine.append(szFraction, nLength);
    }
    strLine += 'Z';
}

std::string IsoTime(int64_t nNs) {
    std::string strText;
    AppendIsoTime(strText, nNs);
    return strText;
}

RecordWriter::RecordWriter(std::function<void(std::string_view)> fnWrite, OutputFormat format,
                           std::vector<RecordField> fields)
    : m_fnWrite(std::move(fnWrite)), m_format(format), m_fields(std::move(fields)) {}

void RecordWriter::WriteHeader() {
    if (m_bHeaderWritten)
        return;
    m_bHeaderWritten = true;
    if (m_format != OutputFormat::Csv)
        return;
    std::string strHeader;
    for (const RecordField& field : m_fields) {
        if (!strHeader.empty())
            strHeader += ',';
        strHeader += field.pszName;
    }
    for (const RecordField& field : m_fields)
        if (field.bBytes)
            strHeader += std::string(",") + field.pszName + "_bytes";
    strHeader += "\r\n";
    m_fnWrite(strHeader);
}

void RecordWriter::WriteSeparator() {
    if (m_format == OutputFormat::Tsv)
        m_fnWrite("\n");
}

void RecordWriter::Write(std::span<const RecordValue> values) {
    if (!m_bHeaderWritten)
        WriteHeader();
    m_strLine.clear();
    m_strBytesColumns.clear();
    if (m_format == OutputFormat::Json)
        m_strLine += '{';
    size_t i = 0, nWritten = 0;
    for (const RecordValue& value : values) {
        const RecordField& field = m_fields[i++];
        const bool bTsv = m_format == OutputFormat::Tsv;
        if (bTsv && !field.bInTsv)
            continue;
        const auto* pText = std::get_if<std::string_view>(&value);
        const auto* pList = std::get_if<TextList>(&value);
        std::string_view joined;
        if (pList && m_format != OutputFormat::Json) {
            m_strJoined.clear();
            for (const std::string& strItem : *pList->pItems)
                m_strJoined += (m_strJoined.empty() ? "" : ", ") + strItem;
            joined = m_strJoined;
            pText = &joined;
        }
        // tsv writes any bytes as they are: it need not know. csv needs to
        // know of every text, json only of names (its escapes take any).
        const bool bInvalid = pText && !bTsv && (field.bBytes || m_format == OutputFormat::Csv) &&
                              !IsValidUtf8(*pText);
        bool bInvalidItem = false;
        if (m_format == OutputFormat::Json) {
            if (nWritten > 0)
                m_strLine += ',';
            m_strLine += '"';
            m_strLine += field.pszName;
            m_strLine += "\":";
        } else if (nWritten > 0) {
            m_strLine += bTsv ? '\t' : ',';
        }
        ++nWritten;
        if (std::holds_alternative<std::monostate>(value)) {
            if (m_format == OutputFormat::Json)
                m_strLine += "null";
        } else if (pText) {
            if (m_format == OutputFormat::Tsv)
                AppendTsvField(m_strLine, *pText);
            else if (m_format == OutputFormat::Csv)
                AppendCsvText(m_strLine, *pText, !bInvalid);
            else
                AppendJsonString(m_strLine, *pText);
        } else if (pList) {
            m_strLine += '[';
            for (const std::string& strItem : *pList->pItems) {
                if (&strItem != pList->pItems->data())
                    m_strLine += ',';
                AppendJsonString(m_strLine, strItem);
                bInvalidItem = bInvalidItem || (field.bBytes && !IsValidUtf8(strItem));
            }
            m_strLine += ']';
        } else if (const auto* pWide = std::get_if<UnsignedNumber>(&value)) {
            m_strLine += DecimalText(pWide->n);
        } else if (const auto* pNumber = std::get_if<int64_t>(&value)) {
            char szNumber[24];
            const auto [pEnd, ec] = std::to_chars(szNumber, szNumber + sizeof szNumber, *pNumber);
            m_strLine.append(szNumber, pEnd);
        } else if (const auto* pYes = std::get_if<bool>(&value)) {
            m_strLine +=
                m_format == OutputFormat::Tsv ? (*pYes ? "yes" : "no") : (*pYes ? "true" : "false");
        } else if (const auto* pTime = std::get_if<TimeNs>(&value)) {
            // A time's text is plain ASCII: json quotes it as it is.
            if (m_format == OutputFormat::Json)
                m_strLine += '"';
            AppendIsoTime(m_strLine, pTime->nNs);
            if (m_format == OutputFormat::Json)
                m_strLine += '"';
        }
        if (m_format == OutputFormat::Json && field.bBytes && bInvalid) {
            m_strLine += ",\"";
            m_strLine += field.pszName;
            m_strLine += "_bytes\":\"";
            AppendHex(m_strLine, *pText);
            m_strLine += '"';
        }
        if (bInvalidItem) {
            // Each pattern's exact bytes, null where its text is valid.
            m_strLine += ",\"";
            m_strLine += field.pszName;
            m_strLine += "_bytes\":[";
            for (const std::string& strItem : *pList->pItems) {
                if (&strItem != pList->pItems->data())
                    m_strLine += ',';
                if (IsValidUtf8(strItem)) {
                    m_strLine += "null";
                } else {
                    m_strLine += '"';
                    AppendHex(m_strLine, strItem);
                    m_strLine += '"';
                }
            }
            m_strLine += ']';
        }
        if (m_format == OutputFormat::Csv && field.bBytes) {
            m_strBytesColumns += ',';
            if (bInvalid)
                AppendHex(m_strBytesColumns, *pText);
        }
    }
    if (m_format == OutputFormat::Json) {
        m_strLine += "}\n";
    } else if (m_format == OutputFormat::Csv) {
        m_strLine += m_strBytesColumns;
        m_strLine += "\r\n";
    } else {
        m_strLine += '\n';
    }
    m_fnWrite(m_strLine);
}
