// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/ArchiveFolders.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/MemberPath.h"
#include "catalog/ResultSet.h"
#include "scan/Paths.h"

#include <algorithm>
#include <sys/stat.h>

std::string EntryPath(std::string_view folderPath, std::string_view name) {
    if (!IsInsideArchive(folderPath))
        return JoinPath(folderPath, name);
    std::string strPath(folderPath);
    if (strPath.empty() || strPath.back() != '/')
        strPath += '/';
    return strPath.append(name);
}

bool IsInsideArchive(std::string_view path) {
    return SplitMemberPath(path).size() > 1;
}

namespace {

// A path inside an archive as stored: names joined by '/', none empty or ".".
std::string InnerPath(std::string_view typed) {
    std::string strInner;
    size_t nAt = 0;
    while (nAt <= typed.size()) {
        size_t nEnd = typed.find('/', nAt);
        if (nEnd == std::string_view::npos)
            nEnd = typed.size();
        const std::string_view name = typed.substr(nAt, nEnd - nAt);
        if (!name.empty() && name != ".") {
            if (!strInner.empty())
                strInner += '/';
            strInner.append(name);
        }
        nAt = nEnd + 1;
    }
    return strInner;
}

// The folder an inner path lies in and its last name: "a/b/c" gives "a/b"
// and "c", "c" gives "" and "c".
std::pair<std::string, std::string> SplitInner(std::string_view inner) {
    const size_t nSlash = inner.rfind('/');
    if (nSlash == std::string_view::npos)
        return {std::string(), std::string(inner)};
    return {std::string(inner.substr(0, nSlash)), std::string(inner.substr(nSlash + 1))};
}

} // namespace

std::unique_ptr<ArchiveFolders> ArchiveFolders::Open(Database& database) {
    if (!database.HasTable("archive_members") || !database.HasTable("archives"))
        return nullptr;
    return std::make_unique<ArchiveFolders>(database);
}

int64_t ArchiveFolders::TopOf(int64_t nArchiveId, int64_t nFileId, std::string strPath,
                              int64_t nParentId) {
    Archive& archive = m_archives[nArchiveId];
    if (archive.nTopId != 0)
        return archive.nTopId;
    archive.nTopId = m_nNextId--;
    archive.nFileId = nFileId;
    archive.strPath = std::move(strPath);
    archive.nParentId = nParentId;
    m_archiveOfTop.emplace(archive.nTopId, nArchiveId);
    return archive.nTopId;
}

int64_t ArchiveFolders::FolderOf(Archive& archive, const std::string& strInner) {
    if (const auto it = archive.folders.find(strInner); it != archive.folders.end())
        return it->second;
    int64_t nParentId = archive.nParentId;
    int64_t nId = archive.nTopId;
    if (!strInner.empty()) {
        nParentId = FolderOf(archive, SplitInner(strInner).first);
        nId = m_nNextId--;
        m_folders.at(nParentId).children.push_back(nId);
    }
    archive.folders.emplace(strInner, nId);
    Folder& folder = m_folders[nId];
    folder.nArchiveId = m_archiveOfTop.at(archive.nTopId);
    folder.dir.nId = nId;
    folder.dir.strPath = JoinMemberPath(archive.strPath, strInner);
    folder.dir.nParentId = nParentId;
    return nId;
}

void ArchiveFolders::Read(Archive& archive) {
    archive.bRead = true;
    FolderOf(archive, std::string());
    Statement statement = m_database.Prepare(CatalogSql::kMembersOfArchive);
    statement.BindInt64(1, m_archiveOfTop.at(archive.nTopId));
    for (ResultSet rows(std::move(statement)); !rows.IsEOF(); rows.MoveNext()) {
        if (rows.GetTextView(1).size() > kMaxMemberPathBytes)
            continue; // only another program writes such a path
        const std::string strInner = InnerPath(rows.GetTextView(1));
        const std::optional<uint32_t> nMode =
            rows.IsNull(5) ? std::nullopt
                           : std::optional<uint32_t>(static_cast<uint32_t>(rows.GetInt64(5)));
        const std::optional<int64_t> nMtimeNs =
            rows.IsNull(4) ? std::nullopt : std::optional<int64_t>(rows.GetInt64(4));
        if (nMode && S_ISDIR(*nMode)) {
            TreeDir& dir = m_folders.at(FolderOf(archive, strInner)).dir;
            dir.nMode = nMode;
            dir.nMtimeNs = nMtimeNs;
            continue;
        }
        Member& member = archive.members.emplace_back();
        member.nId = rows.GetInt64(0);
        member.strName = SplitInner(strInner).second;
        if (!rows.IsNull(3) && rows.GetInt64(3) >= 0)
            member.nSize = rows.GetInt64(3);
        member.nMtimeNs = nMtimeNs;
        member.nMode = nMode;
        if (!rows.IsNull(6))
            member.checksum = rows.GetText(6);
        m_folders.at(FolderOf(archive, SplitInner(strInner).first))
            .members.push_back(archive.members.size() - 1);
    }
    // Archives inside this one: rows of the same outermost file that name a
    // member of this archive.
    std::unordered_map<int64_t, size_t> byMember;
    for (size_t i = 0; i < archive.members.size(); ++i)
        byMember.emplace(archive.members[i].nId, i);
    Statement nested = m_database.Prepare(CatalogSql::kNestedArchivesOfFile);
    nested.BindInt64(1, archive.nFileId);
    for (ResultSet rows(std::move(nested)); !rows.IsEOF(); rows.MoveNext())
        if (byMember.count(rows.GetInt64(0)))
            archive.nested.emplace(rows.GetInt64(0), rows.GetInt64(1));
    // Totals, deepest folders first: a folder's inner path is longer than
    // its parent's.
    std::vector<std::pair<size_t, int64_t>> byDepth;
    for (const auto& [strInner, nId] : archive.folders)
        byDepth.emplace_back(
            strInner.empty() ? 0 : std::count(strInner.begin(), strInner.end(), '/') + 1, nId);
    std::sort(byDepth.begin(), byDepth.end(), std::greater<>());
    for (const auto& [nDepth, nId] : byDepth) {
        Folder& folder = m_folders.at(nId);
        TreeTotals& totals = folder.dir.totals;
        for (const size_t i : folder.members) {
            const Member& member = archive.members[i];
            totals.AddFile(member.nSize, member.nMtimeNs);
            if (archive.nested.count(member.nId))
                folder.bHoldsArchives = true;
        }
        if (nDepth == 0)
            continue;
        m_folders.at(*folder.dir.nParentId).dir.totals.AddFolder(totals);
    }
}

const TreeDir* ArchiveFolders::DirById(int64_t nId) {
    if (!IsArchiveFolder(nId))
        return nullptr;
    if (const auto it = m_folders.find(nId); it != m_folders.end())
        return &it->second.dir;
    const auto top = m_archiveOfTop.find(nId);
    if (top == m_archiveOfTop.end())
        return nullptr;
    Archive& archive = m_archives.at(top->second);
    if (!archive.bRead)
        Read(archive);
    return &m_folders.at(nId).dir;
}

std::vector<const TreeDir*> ArchiveFolders::Subdirectories(int64_t nId) {
    std::vector<const TreeDir*> subdirectories;
    if (!DirById(nId))
        return subdirectories;
    for (const int64_t nChild : m_folders.at(nId).children)
        subdirectories.push_back(&m_folders.at(nChild).dir);
    return subdirectories;
}

std::vector<TreeFile> ArchiveFolders::Files(int64_t nId) {
    std::vector<TreeFile> files;
    if (!DirById(nId))
        return files;
    const Folder& folder = m_folders.at(nId);
    const int64_t nArchiveId = folder.nArchiveId;
    const std::string strFolderPath = folder.dir.strPath;
    const std::vector<size_t> members = folder.members;
    for (const size_t i : members) {
        Archive& archive = m_archives.at(nArchiveId);
        const Member& member = archive.members[i];
        TreeFile& file = files.emplace_back();
        file.nId = member.nId;
        file.strName = member.strName;
        file.nSize = member.nSize;
        file.checksum = member.checksum;
        file.nMtimeNs = member.nMtimeNs;
        file.nMode = member.nMode;
        if (const auto it = archive.nested.find(member.nId); it != archive.nested.end())
            file.nFolderId =
                TopOf(it->second, archive.nFileId, EntryPath(strFolderPath, member.strName), nId);
    }
    return files;
}

void ArchiveFolders::MarkArchives(const TreeDir& dir, std::vector<TreeFile>& files) {
    if (files.empty())
        return;
    int64_t nLow = INT64_MAX, nHigh = INT64_MIN;
    std::unordered_map<int64_t, size_t> byId;
    for (size_t i = 0; i < files.size(); ++i) {
        nLow = std::min(nLow, files[i].nId);
        nHigh = std::max(nHigh, files[i].nId);
        byId.emplace(files[i].nId, i);
    }
    Statement statement = m_database.Prepare(CatalogSql::kArchivesOfFilesBetween);
    statement.BindInt64(1, nLow);
    statement.BindInt64(2, nHigh);
    for (ResultSet rows(std::move(statement)); !rows.IsEOF(); rows.MoveNext()) {
        const auto it = byId.find(rows.GetInt64(0));
        if (it == byId.end() || files[it->second].nFolderId)
            continue;
        TreeFile& file = files[it->second];
        file.nFolderId =
            TopOf(rows.GetInt64(1), file.nId, FilePath(dir.strPath, file.strName), dir.nId);
    }
}

bool ArchiveFolders::HoldsArchives(int64_t nDirId) {
    if (IsArchiveFolder(nDirId)) {
        const auto it = m_folders.find(nDirId);
        return it != m_folders.end() && it->second.bHoldsArchives;
    }
    if (!m_holding) {
        m_holding.emplace();
        for (ResultSet rows(m_database.Prepare(CatalogSql::kDirsHoldingArchives)); !rows.IsEOF();
             rows.MoveNext())
            if (!rows.IsNull(0))
                m_holding->insert(rows.GetInt64(0));
    }
    return m_holding->count(nDirId) > 0;
}

int64_t ArchiveFolders::ArchiveAt(Archive& archive, std::string_view inner) {
    const auto [strFolder, strName] = SplitInner(inner);
    const auto folder = archive.folders.find(strFolder);
    if (folder == archive.folders.end())
        return 0;
    for (const TreeFile& file : Files(folder->second))
        if (file.strName == strName && file.nFolderId)
            return *file.nFolderId;
    return 0;
}

const TreeDir*
ArchiveFolders::DirByPath(std::string_view path,
                          const std::function<const TreeDir*(std::string_view)>& fnFindDir,
                          const std::function<std::vector<TreeFile>(int64_t)>& fnFiles) {
    const std::vector<std::string> parts = SplitMemberPath(path);
    const auto [strDir, strName] = SplitFolderAndName(parts[0]);
    const TreeDir* pDir = fnFindDir(strDir);
    if (!pDir)
        return nullptr;
    int64_t nFolderId = 0;
    for (const TreeFile& file : fnFiles(pDir->nId))
        if (file.strName == strName && file.nFolderId) {
            nFolderId = *file.nFolderId;
            break;
        }
    for (size_t i = 1; i < parts.size() && nFolderId != 0; ++i) {
        if (!DirById(nFolderId))
            return nullptr;
        Archive& archive = m_archives.at(m_archiveOfTop.at(nFolderId));
        const std::string strInner = InnerPath(parts[i]);
        if (i + 1 < parts.size()) {
            nFolderId = ArchiveAt(archive, strInner);
            continue;
        }
        if (const auto it = archive.folders.find(strInner); it != archive.folders.end())
            nFolderId = it->second;
        else
            nFolderId = ArchiveAt(archive, strInner);
    }
    return nFolderId != 0 ? DirById(nFolderId) : nullptr;
}
