// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/RecordWriter.h"

#include "search/RecordFormat.h"

#include <charconv>
#include <ctime>
#include <iterator>

namespace {

struct FormatKind {
    const char* pszName;
    std::unique_ptr<RecordFormat> (*fnMake)();
};
#define KESTREL_FORMAT_KIND(id, name) {name, Make##id##Records},
// In the order of OutputFormat.
constexpr FormatKind kFormats[] = {KESTREL_OUTPUT_FORMATS(KESTREL_FORMAT_KIND)};
#undef KESTREL_FORMAT_KIND

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

} // namespace

bool ParseOutputFormat(const std::string& strText, OutputFormat& format) {
    for (size_t i = 0; i < std::size(kFormats); ++i) {
        if (strText == kFormats[i].pszName) {
            format = static_cast<OutputFormat>(i);
            return true;
        }
    }
    return false;
}

void AppendHex(std::string& strLine, std::string_view bytes) {
    constexpr const char* kHexDigits = "0123456789abcdef";
    for (const char c : bytes) {
        strLine += kHexDigits[static_cast<unsigned char>(c) >> 4];
        strLine += kHexDigits[static_cast<unsigned char>(c) & 15];
    }
}

void AppendPlainValue(std::string& strLine, const RecordValue& value, const char* pszYes,
                      const char* pszNo) {
    if (const auto* pWide = std::get_if<UnsignedNumber>(&value)) {
        strLine += DecimalText(pWide->n);
    } else if (const auto* pNumber = std::get_if<int64_t>(&value)) {
        char szNumber[24];
        const auto [pEnd, ec] = std::to_chars(szNumber, szNumber + sizeof szNumber, *pNumber);
        strLine.append(szNumber, pEnd);
    } else if (const auto* pYes = std::get_if<bool>(&value)) {
        strLine += *pYes ? pszYes : pszNo;
    } else if (const auto* pTime = std::get_if<TimeNs>(&value)) {
        AppendIsoTime(strLine, pTime->nNs);
    }
}

const char* BackslashEscape(char c) {
    return c == '\t'   ? "\\t"
           : c == '\n' ? "\\n"
           : c == '\r' ? "\\r"
           : c == '\\' ? "\\\\"
           : c == '"'  ? "\\\""
                       : nullptr;
}

std::string_view JoinTexts(const TextList& list, std::string& strJoined) {
    strJoined.clear();
    for (const std::string& strItem : *list.pItems)
        strJoined += (strJoined.empty() ? "" : ", ") + strItem;
    return strJoined;
}

RecordWriter::RecordWriter(std::function<void(std::string_view)> fnWrite, OutputFormat format,
                           std::vector<RecordField> fields)
    : m_fnWrite(std::move(fnWrite)), m_fields(std::move(fields)),
      m_pFormat(kFormats[static_cast<size_t>(format)].fnMake()) {}

RecordWriter::~RecordWriter() = default;

void RecordWriter::WriteHeader() {
    if (m_bHeaderWritten)
        return;
    m_bHeaderWritten = true;
    m_strLine.clear();
    m_pFormat->AppendHeader(m_strLine, m_fields);
    if (!m_strLine.empty())
        m_fnWrite(m_strLine);
}

void RecordWriter::WriteSeparator() {
    if (const std::string_view separator = m_pFormat->Separator(); !separator.empty())
        m_fnWrite(separator);
}

void RecordWriter::Write(std::span<const RecordValue> values) {
    if (!m_bHeaderWritten)
        WriteHeader();
    m_strLine.clear();
    m_pFormat->AppendRecord(m_strLine, m_fields, values);
    m_fnWrite(m_strLine);
}
