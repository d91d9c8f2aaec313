#include "search/RecordWriter.h"

#include "catalog/LikeMatcher.h"

#include <charconv>
#include <climits>
#include <ctime>

namespace {

constexpr const char* kHexDigits = "0123456789abcdef";

bool IsValidUtf8(std::string_view text) {
    for (size_t nPos = 0; nPos < text.size();) {
        if (static_cast<unsigned char>(text[nPos]) < 0x80) {
            ++nPos;
            continue;
        }
        size_t nLength = 0;
        if (DecodeUtf8(text.substr(nPos), nLength) >= 0x110000)
            return false;
        nPos += nLength;
    }
    return true;
}

std::string HexOf(std::string_view bytes) {
    std::string strHex;
    strHex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        strHex += kHexDigits[static_cast<unsigned char>(c) >> 4];
        strHex += kHexDigits[static_cast<unsigned char>(c) & 15];
    }
    return strHex;
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
        if (DecodeUtf8(text.substr(nPos), nLength) < 0x110000) {
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

void AppendCsvText(std::string& strLine, std::string_view text) {
    std::string strValid;
    SplitUtf8(
        text, [&](std::string_view run) { strValid.append(run); },
        [&](unsigned char) { strValid += "\xEF\xBF\xBD"; });
    if (strValid.find_first_of(",\"\r\n") == std::string::npos) {
        strLine += strValid;
        return;
    }
    strLine += '"';
    for (const char c : strValid) {
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

std::string IsoTime(int64_t nNs) {
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
    std::string strText = s_strLastSeconds;
    if (nFraction != 0) {
        std::string strFraction = std::to_string(nFraction);
        strFraction.insert(0, 9 - strFraction.size(), '0');
        while (strFraction.back() == '0')
            strFraction.pop_back();
        strText += "." + strFraction;
    }
    return strText + "Z";
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
    std::string strBytesColumns;
    if (m_format == OutputFormat::Json)
        m_strLine += '{';
    size_t i = 0, nWritten = 0;
    for (const RecordValue& value : values) {
        const RecordField& field = m_fields[i++];
        const bool bTsv = m_format == OutputFormat::Tsv;
        if (bTsv && !field.bInTsv)
            continue;
        const auto* pText = std::get_if<std::string_view>(&value);
        // tsv writes any bytes as they are: it need not know.
        const bool bInvalid = !bTsv && pText && field.bBytes && !IsValidUtf8(*pText);
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
                AppendCsvText(m_strLine, *pText);
            else
                AppendJsonString(m_strLine, *pText);
        } else if (const auto* pNumber = std::get_if<int64_t>(&value)) {
            char szNumber[24];
            const auto [pEnd, ec] = std::to_chars(szNumber, szNumber + sizeof szNumber, *pNumber);
            m_strLine.append(szNumber, pEnd);
        } else if (const auto* pYes = std::get_if<bool>(&value)) {
            m_strLine +=
                m_format == OutputFormat::Tsv ? (*pYes ? "yes" : "no") : (*pYes ? "true" : "false");
        } else if (const auto* pTime = std::get_if<TimeNs>(&value)) {
            const std::string strTime = IsoTime(pTime->nNs);
            if (m_format == OutputFormat::Json)
                AppendJsonString(m_strLine, strTime);
            else
                m_strLine += strTime;
        }
        if (m_format == OutputFormat::Json && bInvalid) {
            m_strLine += ",\"";
            m_strLine += field.pszName;
            m_strLine += "_bytes\":\"";
            m_strLine += HexOf(*pText);
            m_strLine += '"';
        }
        if (m_format == OutputFormat::Csv && field.bBytes) {
            strBytesColumns += ',';
            if (bInvalid)
                strBytesColumns += HexOf(*pText);
        }
    }
    if (m_format == OutputFormat::Json)
        m_strLine += "}\n";
    else if (m_format == OutputFormat::Csv)
        m_strLine += strBytesColumns + "\r\n";
    else
        m_strLine += '\n';
    m_fnWrite(m_strLine);
}
