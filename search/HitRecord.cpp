// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/HitRecord.h"

#include "catalog/MemberPath.h"
#include "search/SearchQuery.h"

#include <iterator>
#include <span>

std::vector<RecordField> HitFields() {
    return {{"path", true},
            {"size"},
            {"md5"},
            {"catalog", true},
            {.pszName = "mtime", .bInTsv = false},
            {.pszName = "type", .bInTsv = false},
            {.pszName = "archive", .bBytes = true, .bInTsv = false, .bLater = true},
            {.pszName = "member", .bBytes = true, .bInTsv = false, .bLater = true}};
}

std::string_view ArchiveOfHit(const SearchHit& hit) {
    return hit.bMember ? hit.path.substr(0, hit.nArchiveBytes) : std::string_view();
}

std::string_view MemberOfHit(const SearchHit& hit) {
    if (!hit.bMember || hit.path.size() < hit.nArchiveBytes + kMemberSeparator.size())
        return {};
    return hit.path.substr(hit.nArchiveBytes + kMemberSeparator.size());
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
                                  std::string_view(hit.bDirectory ? "directory"
                                                   : hit.bMember  ? "member"
                                                                  : "file"),
                                  hit.bMember ? RecordValue(ArchiveOfHit(hit)) : RecordValue(),
                                  hit.bMember ? RecordValue(MemberOfHit(hit)) : RecordValue(),
                                  YesNoValue(bOnline)};
    records.Write(std::span(values, bOnline ? std::size(values) : std::size(values) - 1));
}
