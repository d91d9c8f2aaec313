// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/ByteTotal.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The output formats, each as FORMAT(enumerator, name). Each is written by a
// RecordFormat in a file of its own, search/<enumerator>Records.cpp, that
// defines Make<enumerator>Records(): a new format is that file and one entry here.
#define KESTREL_OUTPUT_FORMATS(FORMAT) FORMAT(Tsv, "tsv") FORMAT(Csv, "csv") FORMAT(Json, "json")

#define KESTREL_FORMAT_ENUMERATOR(id, name) id,
enum class OutputFormat { KESTREL_OUTPUT_FORMATS(KESTREL_FORMAT_ENUMERATOR) };
#undef KESTREL_FORMAT_ENUMERATOR

// The format of that name ("tsv", "csv", "json"); false for anything else.
bool ParseOutputFormat(const std::string& strText, OutputFormat& format);

// A moment as nanoseconds since 1970 UTC, written as ISO 8601.
struct TimeNs {
    int64_t nNs;
};

// A whole number that may pass the range of int64_t: a count or a sum of sizes.
struct UnsignedNumber {
    ByteTotal n;
};

// Texts that make one value (patterns): tsv and csv join them with ", ",
// json writes an array. The caller keeps them alive while the record is written.
struct TextList {
    const std::vector<std::string>* pItems;
};

// One value of a record: none, text (any bytes), a whole number, yes/no, a
// time, a large whole number, a list of texts.
using RecordValue =
    std::variant<std::monostate, std::string_view, int64_t, bool, TimeNs, UnsignedNumber, TextList>;

// Values that may be missing, as record values: no value (empty in tsv and
// csv, null in json) when absent; a text also when it is empty.
inline RecordValue NumberValue(const std::optional<int64_t>& nValue) {
    return nValue ? RecordValue(*nValue) : RecordValue();
}
inline RecordValue CountValue(const std::optional<ByteTotal>& nCount) {
    return nCount ? RecordValue(UnsignedNumber{*nCount}) : RecordValue();
}
inline RecordValue YesNoValue(const std::optional<bool>& bValue) {
    return bValue ? RecordValue(*bValue) : RecordValue();
}
inline RecordValue TimeValue(const std::optional<int64_t>& nNs) {
    return nNs ? RecordValue(TimeNs{*nNs}) : RecordValue();
}
inline RecordValue TextValue(std::string_view text) {
    return text.empty() ? RecordValue() : RecordValue(text);
}
inline RecordValue TextValue(const std::string& strText) {
    return TextValue(std::string_view(strText));
}
inline RecordValue TextValue(const std::optional<std::string>& strText) {
    return strText ? TextValue(std::string_view(*strText)) : RecordValue();
}

// A record's field: its name, whether its text is a name from a file system,
// whose bytes need not be UTF-8, and whether tsv has it (some fields are for
// scripts only: csv and json). bLater marks a field added to a record after
// scripts came to read it: csv writes it, and those after it, after the
// <name>_bytes columns of the fields before it, so every earlier column stays
// where it was; json leaves its key out of a record that has no value for it.
struct RecordField {
    const char* pszName;
    bool bBytes = false;
    bool bInTsv = true;
    bool bLater = false;
};

// Writes records in an output format: tsv (one record a line, escaped as
// AppendTsvField does, fields not in tsv left out), csv (RFC 4180 with a
// header line) or json (one object a line). csv and json keep the exact bytes
// of a file-system text that is not valid UTF-8 in hexadecimal, in
// "<name>_bytes"; each format's file tells how it writes what.
class RecordFormat;

class RecordWriter {
public:
    // fnWrite takes each piece of text written (it may raise to stop).
    RecordWriter(std::function<void(std::string_view)> fnWrite, OutputFormat format,
                 std::vector<RecordField> fields);
    ~RecordWriter();

    // Writes one record, values in the order of the fields.
    void Write(std::initializer_list<RecordValue> values) {
        Write(std::span<const RecordValue>(values.begin(), values.size()));
    }
    void Write(std::span<const RecordValue> values);
    // In tsv, an empty line (groups of records); nothing in csv and json.
    void WriteSeparator();
    // Writes the csv header now, if not yet; the first record does otherwise.
    void WriteHeader();

private:
    std::function<void(std::string_view)> m_fnWrite;
    std::vector<RecordField> m_fields;
    std::unique_ptr<RecordFormat> m_pFormat;
    bool m_bHeaderWritten = false;
    std::string m_strLine;
};

// Appends one field of a tab-separated line: tab, line feed, carriage return
// and backslash are written as \t, \n, \r and \\, so a line stays one record
// whatever a name holds.
void AppendTsvField(std::string& strLine, std::string_view field);
