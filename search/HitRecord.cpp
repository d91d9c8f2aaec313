#include "search/HitRecord.h"

#include "search/SearchQuery.h"

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

void WriteHit(RecordWriter& records, const SearchHit& hit) {
    records.Write({hit.path, NumberValue(hit.nSize),
                   TextValue(hit.checksum.value_or(std::string_view())), hit.catalog,
                   TimeValue(hit.nMtimeNs),
                   std::string_view(hit.bDirectory ? "directory" : "file")});
}

void WriteHit(RecordWriter& records, const SearchHit& hit, bool bOnline) {
    records.Write({hit.path, NumberValue(hit.nSize),
                   TextValue(hit.checksum.value_or(std::string_view())), hit.catalog,
                   TimeValue(hit.nMtimeNs), std::string_view(hit.bDirectory ? "directory" : "file"),
                   bOnline});
}
