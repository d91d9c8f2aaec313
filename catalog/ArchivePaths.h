// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/Statement.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

class Database;

// The paths of a catalog's archives as results show them: the archive
// file's path, or for an archive inside another the outer one's path, "//"
// and its path inside that (JoinMemberPath). Each is looked up once. The
// catalog must have the member tables and stay open while this lives.
class ArchivePaths {
public:
    explicit ArchivePaths(Database& database);

    // The path of the archive of that id; null when the catalog names no
    // such archive, file or outer member (rows edited by hand). Valid while
    // this lives.
    const std::string* PathOf(int64_t nArchiveId);

private:
    std::optional<std::string> Find(int64_t nArchiveId, int nDepth);

    Statement m_archive;
    Statement m_file;
    Statement m_member;
    std::unordered_map<int64_t, std::optional<std::string>> m_paths;
    int64_t m_nLastId = 0;
    const std::string* m_pLast = nullptr;
};

// The path of the folder a member lies in, as a search of directories and
// files matches it: its archive's path, "//" and the member's folder inside,
// or the archive's path alone for a member at the top; into strFolder.
void AssignMemberFolder(std::string_view archivePath, std::string_view memberPath,
                        std::string& strFolder);
