// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "search/RecordWriter.h"

#include <optional>
#include <vector>

struct SearchHit;

// The fields of a search hit's record: path, size, md5, catalog, and for
// scripts (csv and json) mtime, type ("file", "directory" or "member"), and
// for a member of an archive archive and member (the two parts of its path;
// empty in csv and left out of json for other hits).
std::vector<RecordField> HitFields();

// HitFields() and "online": whether the hit's disk is plugged in now (json
// records of a search).
std::vector<RecordField> HitFieldsWithVolume();

// Writes the hit as one record of HitFields(), or with bOnline of
// HitFieldsWithVolume().
void WriteHit(RecordWriter& records, const SearchHit& hit,
              std::optional<bool> bOnline = std::nullopt);
