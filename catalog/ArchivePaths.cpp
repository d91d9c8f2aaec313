// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/ArchivePaths.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/MemberPath.h"
#include "scan/Paths.h"

namespace {

// Archives nest only as deep as a scan reads them; a chain deeper than this
// loops (rows edited by hand) and names no path.
constexpr int kMostNesting = 64;

} // namespace

ArchivePaths::ArchivePaths(Database& database)
    : m_archive(database.Prepare(CatalogSql::kArchiveOfId)),
      m_file(database.Prepare(CatalogSql::kPathOfFileId)),
      m_member(database.Prepare(CatalogSql::kMemberPathOfId)) {}

const std::string* ArchivePaths::PathOf(int64_t nArchiveId) {
    // Members come archive by archive: the last answer is asked again most.
    if (m_pLast && nArchiveId == m_nLastId)
        return m_pLast;
    auto it = m_paths.find(nArchiveId);
    if (it == m_paths.end())
        it = m_paths.emplace(nArchiveId, Find(nArchiveId, 0)).first;
    m_nLastId = nArchiveId;
    m_pLast = it->second ? &*it->second : nullptr;
    return m_pLast;
}

std::optional<std::string> ArchivePaths::Find(int64_t nArchiveId, int nDepth) {
    if (nDepth > kMostNesting)
        return std::nullopt;
    m_archive.Reset();
    m_archive.BindInt64(1, nArchiveId);
    if (!m_archive.Step())
        return std::nullopt;
    if (m_archive.IsNull(1)) {
        m_file.Reset();
        m_file.BindFieldOf(1, m_archive, 0);
        if (!m_file.Step())
            return std::nullopt;
        return FilePath(m_file.Text(0), m_file.Text(1));
    }
    m_member.Reset();
    m_member.BindFieldOf(1, m_archive, 1);
    if (!m_member.Step())
        return std::nullopt;
    const int64_t nOuterId = m_member.Int64(0);
    std::string strInside(m_member.IsNull(1) ? std::string_view() : m_member.Text(1));
    std::optional<std::string> outer;
    if (const auto it = m_paths.find(nOuterId); it != m_paths.end())
        outer = it->second;
    else
        outer = Find(nOuterId, nDepth + 1);
    if (!outer)
        return std::nullopt;
    return JoinMemberPath(*outer, strInside);
}

void AssignMemberFolder(std::string_view archivePath, std::string_view memberPath,
                        std::string& strFolder) {
    strFolder.assign(archivePath);
    const size_t nSlash = memberPath.rfind('/');
    if (nSlash == std::string_view::npos)
        return;
    strFolder.append(kMemberSeparator).append(memberPath.substr(0, nSlash));
}
