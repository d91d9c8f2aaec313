#include "search/HitRecord.h"

#include "search/SearchQuery.h"

#include <iterator>
#include <span>

std::vector<RecordField> HitFields() {
    return {{"path", true},
            {"size"},
            {"md5"},
            {"catalog", true},
            {.pszName = "mtime", .bInTsv = false},
            {.pszName = "type", .bInTsv = false}};
}

std::vector<RecordField> HitFieldsWithVolume() {
    std::vector<RecordField> fields = HitFields();
    fields.push_back({.pszName = "online", .bInTsv = false});
    return fields;
}

void WriteHit(RecordWriter& records, const SearchHit& hit, std::optional<bool> bOnline) {
    const RecordValue values[] = {hit.path,
                                  NumberValue(hit.nSize),
                                  TextValue(hit.checksum.value_or(std::string_view())),
                                  hit.catalog,
                                  TimeValue(hit.nMtimeNs),
                                  std::string_view(hit.bDirectory ? "directory" : "file"),
                                  YesNoValue(bOnline)};
    records.Write(std::span(values, bOnline ? std::size(values) : std::size(values) - 1));
}
