// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/Utf8.h"
#include "search/RecordWriter.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

// How one output format writes the records of a RecordWriter, which writes
// the header once and passes on each line these append to strLine.
class RecordFormat {
public:
    virtual ~RecordFormat() = default;
    // The line before the first record; none by default.
    virtual void AppendHeader(std::string& /*strLine*/, std::span<const RecordField> /*fields*/) {}
    // One record's line, values in the order of the fields.
    virtual void AppendRecord(std::string& strLine, std::span<const RecordField> fields,
                              std::span<const RecordValue> values) = 0;
    // What goes between groups of records; nothing by default.
    virtual std::string_view Separator() const { return {}; }
};

#define KESTREL_DECLARE_FORMAT(id, name) std::unique_ptr<RecordFormat> Make##id##Records();
KESTREL_OUTPUT_FORMATS(KESTREL_DECLARE_FORMAT)
#undef KESTREL_DECLARE_FORMAT

// What the formats share.
// Each byte as two lower-case hexadecimal digits.
void AppendHex(std::string& strLine, std::string_view bytes);
// A whole number, a yes/no (as pszYes or pszNo) or a time as ISO 8601; nothing
// for no value. Texts and lists are the format's own.
void AppendPlainValue(std::string& strLine, const RecordValue& value, const char* pszYes,
                      const char* pszNo);
// The escape of c in tsv and json: \\t, \\n, \\r, \\\\ and \\"; null for other bytes.
const char* BackslashEscape(char c);
// A list's texts joined by ", ", in strJoined.
std::string_view JoinTexts(const TextList& list, std::string& strJoined);
