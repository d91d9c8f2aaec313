// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DiffLine;
struct DuplicateGroup;
struct SearchHit;

// The texts of one row of the result list.
struct ResultRow {
    std::string strPath;
    std::string strSize;     // empty for a directory, a negative or an unknown size
    std::string strChecksum; // empty when the catalog holds none
    std::string strDatabase;
    // What the row is in the answer of a question other than a search: its
    // kind of difference, its group of duplicates; empty for a search hit.
    std::string strAnswer;
};

// The row of a search hit.
ResultRow ResultRowOf(const SearchHit& hit);

// Adds the rows of one difference between the catalogs strOld and strNew:
// the file on each side it is on, with that side's catalog (a modified file
// gives two rows), a directory's path ending with '/', and the kind of the
// difference ("only in the first", "only in the second", "changed").
void AddDiffRows(const DiffLine& line, const std::string& strOld, const std::string& strNew,
                 std::vector<ResultRow>& rows);

// Adds a row for each member of a group of duplicates, with the entry of its
// catalog (entries in the order the catalogs were searched) and the group's
// number nGroup.
void AddDuplicateRows(const DuplicateGroup& group, uint64_t nGroup,
                      const std::vector<std::string>& entries, std::vector<ResultRow>& rows);
