// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/CatalogTree.h"

#include "browse/ArchiveFolders.h"
#include "browse/TreeParents.h"
#include "browse/TreeTables.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/MemberPath.h"
#include "catalog/NameIndex.h"
#include "catalog/ResultSet.h"
#include "scan/Paths.h"

#include <algorithm>
#include <unordered_set>

void TreeTotals::AddFile(std::optional<int64_t> nSize, std::optional<int64_t> nMtimeNs) {
    ++nFiles;
    if (nSize && *nSize > 0)
        nBytes += static_cast<ByteTotal>(*nSize);
    KeepNewest(nMtimeNs);
}

void TreeTotals::AddFolder(const TreeTotals& below) {
    nBytes += below.nBytes;
    nFiles += below.nFiles;
    nDirs += below.nDirs + 1;
    KeepNewest(below.nNewestMtimeNs);
}

void TreeTotals::KeepNewest(std::optional<int64_t> nMtimeNs) {
    if (nMtimeNs)
        nNewestMtimeNs = std::max(nNewestMtimeNs.value_or(INT64_MIN), *nMtimeNs);
}

// The tree read from the folder tables: a block of directories at a time,
// each kept in a node of its own, so what was given stays where it is.
struct CatalogTree::Stored {
    explicit Stored(TreeTables tablesIn) : tables(std::move(tablesIn)) {}

    TreeTables tables;
    std::unordered_map<int64_t, TreeDir> nodes;
    std::unordered_map<int64_t, std::vector<int64_t>> children;
    std::unordered_set<int64_t> blocks; // read already
    // Every directory by its normal path, read once when a path is not
    // found as typed or in its normal form, in a catalog that stores paths
    // in other forms too.
    std::optional<std::unordered_map<std::string, int64_t>> byNormalPath;
};

CatalogTree::CatalogTree(Database& database) : m_database(database) {
    m_bTimes = database.QueryInt64(CatalogSql::kHasFileTimes) > 0;
    if (std::optional<NameIndex> index = NameIndex::Open(database))
        m_pNameIndex = std::make_unique<NameIndex>(*index);
    m_pArchives = ArchiveFolders::Open(database);
    if (std::optional<TreeTables> tables = TreeTables::Open(database)) {
        m_pStored = std::make_unique<Stored>(std::move(*tables));
        m_tops = m_pStored->tables.Tops();
        return;
    }
    std::vector<std::string> normals;
    for (ResultSet rows(database.Prepare(CatalogSql::kTreeDirs)); !rows.IsEOF(); rows.MoveNext()) {
        const int64_t nId = rows.GetInt64(0);
        // Of two rows of one id (a table without a key) the first stands.
        if (m_byId.count(nId))
            continue;
        std::string strNormal = NormalPath(rows.GetTextView(1));
        // Another spelling of a stored folder is that folder: its files are its files.
        if (const auto it = m_byPath.find(strNormal); it != m_byPath.end()) {
            m_byId.emplace(nId, it->second);
            m_aliases[it->second].push_back(nId);
            continue;
        }
        TreeDir& dir = m_dirs.emplace_back();
        dir.nId = nId;
        dir.strPath = rows.GetText(1);
        m_byId.emplace(nId, m_dirs.size() - 1);
        m_byPath.emplace(strNormal, m_dirs.size() - 1);
        normals.push_back(std::move(strNormal));
    }
    std::vector<size_t> order;
    const std::vector<size_t> parents = ParentsByPath(normals, order);
    for (size_t i = 0; i < m_dirs.size(); ++i) {
        if (parents[i] != kNoParent) {
            m_dirs[i].nParentId = m_dirs[parents[i]].nId;
            m_children[*m_dirs[i].nParentId].push_back(i);
        } else {
            m_tops.push_back(m_dirs[i].nId);
        }
    }
    for (ResultSet rows(database.Prepare(m_bTimes ? CatalogSql::kTreeFileSums
                                                  : CatalogSql::kTreeFileSumsWithoutTimes));
         !rows.IsEOF(); rows.MoveNext()) {
        const auto it = m_byId.find(rows.GetInt64(0));
        if (it == m_byId.end())
            continue; // files of a directory the catalog does not hold
        TreeTotals& totals = m_dirs[it->second].totals;
        totals.nFiles += static_cast<uint64_t>(rows.GetInt64(1));
        totals.nBytes += (static_cast<ByteTotal>(rows.GetInt64(2)) << 32) +
                         static_cast<ByteTotal>(rows.GetInt64(3));
        if (!rows.IsNull(4))
            totals.KeepNewest(rows.GetInt64(4));
    }
    // Each directory's totals into its parent's, deepest first: the tree
    // order has every folder before those below it.
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const TreeDir& dir = m_dirs[*it];
        if (!dir.nParentId)
            continue;
        m_dirs[parents[*it]].totals.AddFolder(dir.totals);
    }
}

CatalogTree::~CatalogTree() = default;

// Reads the block of nId from the folder tables, when it was not read yet.
const TreeDir* CatalogTree::LoadStored(int64_t nId) const {
    Stored& stored = *m_pStored;
    const int64_t nBlock = TreeTables::BlockOf(nId);
    if (!stored.blocks.insert(nBlock).second)
        return nullptr;
    std::vector<StoredDir> dirs = stored.tables.ReadBlock(nBlock);
    if (dirs.empty())
        return nullptr;
    std::unordered_map<int64_t, std::string> paths;
    Statement names = m_database.Prepare(CatalogSql::kDirNamesBetween);
    names.BindInt64(1, dirs.front().nId);
    names.BindInt64(2, dirs.back().nId);
    for (ResultSet rows(std::move(names)); !rows.IsEOF(); rows.MoveNext())
        paths.emplace(rows.GetInt64(0), rows.GetText(1));
    for (StoredDir& dir : dirs) {
        const auto path = paths.find(dir.nId);
        if (path == paths.end())
            continue;
        TreeDir& node = stored.nodes[dir.nId];
        node.nId = dir.nId;
        node.strPath = std::move(path->second);
        node.nParentId = dir.nParentId;
        node.totals = dir.totals;
        node.nMtimeNs = dir.nMtimeNs;
        node.nMode = dir.nMode;
        if (!dir.children.empty())
            stored.children.emplace(dir.nId, std::move(dir.children));
    }
    const auto it = stored.nodes.find(nId);
    return it == stored.nodes.end() ? nullptr : &it->second;
}

std::string NameBelow(const TreeDir& dir, const TreeDir& parent) {
    if (IsInsideArchive(dir.strPath)) {
        // An archive's folder's path is its parent's, a '/' unless the
        // parent's ends in one, and its name.
        std::string_view path = dir.strPath;
        if (path.substr(0, parent.strPath.size()) == parent.strPath) {
            path.remove_prefix(parent.strPath.size());
            if (!path.empty() && path.front() == '/' && parent.strPath.back() != '/')
                path.remove_prefix(1);
            return std::string(path);
        }
    }
    return std::string(PathBelow(NormalPath(dir.strPath), NormalPath(parent.strPath)));
}

const TreeDir* CatalogTree::DirById(int64_t nId) const {
    if (m_pArchives && ArchiveFolders::IsArchiveFolder(nId))
        return m_pArchives->DirById(nId);
    if (m_pStored) {
        const auto it = m_pStored->nodes.find(nId);
        return it != m_pStored->nodes.end() ? &it->second : LoadStored(nId);
    }
    const auto it = m_byId.find(nId);
    return it == m_byId.end() ? nullptr : &m_dirs[it->second];
}

const TreeDir* CatalogTree::DirByPath(std::string_view path) const {
    if (m_pArchives) {
        if (!IsInsideArchive(path))
            if (const TreeDir* pDir = DirectoryByPath(path))
                return pDir;
        // The archive's own path as typed, or with its . and .. taken as a
        // shell takes them.
        return m_pArchives->DirByPath(
            path,
            [this](std::string_view dirPath) {
                const TreeDir* pDir = DirectoryByPath(dirPath);
                return pDir ? pDir : DirectoryByPath(LexicalPath(std::string(dirPath)));
            },
            [this](int64_t nId) {
                return HoldsArchives(nId) ? Files(nId) : std::vector<TreeFile>();
            });
    }
    return DirectoryByPath(path);
}

const TreeDir* CatalogTree::DirectoryByPath(std::string_view path) const {
    const std::string strNormal = NormalPath(path);
    if (!m_pStored) {
        const auto it = m_byPath.find(strNormal);
        return it == m_byPath.end() ? nullptr : &m_dirs[it->second];
    }
    Statement lookup = m_database.Prepare(CatalogSql::kDirIdByName);
    for (const std::string_view spelling : {path, std::string_view(strNormal)}) {
        lookup.BindText(1, spelling);
        if (lookup.Step())
            return DirById(lookup.Int64(0));
        lookup.Reset();
    }
    if (m_pStored->tables.PathsAreNormal())
        return nullptr;
    auto& byNormalPath = m_pStored->byNormalPath;
    if (!byNormalPath) {
        byNormalPath.emplace();
        for (ResultSet rows(m_database.Prepare(CatalogSql::kTreeDirs)); !rows.IsEOF();
             rows.MoveNext())
            byNormalPath->emplace(NormalPath(rows.GetTextView(1)), rows.GetInt64(0));
    }
    const auto it = byNormalPath->find(strNormal);
    return it == byNormalPath->end() ? nullptr : DirById(it->second);
}

std::vector<const TreeDir*> CatalogTree::Subdirectories(int64_t nId) const {
    if (m_pArchives && ArchiveFolders::IsArchiveFolder(nId))
        return m_pArchives->Subdirectories(nId);
    std::vector<const TreeDir*> subdirectories;
    if (m_pStored) {
        if (!DirById(nId))
            return subdirectories;
        if (const auto it = m_pStored->children.find(nId); it != m_pStored->children.end())
            for (const int64_t nChild : it->second)
                if (const TreeDir* pChild = DirById(nChild)) {
                    // A child names its parent: tables that say otherwise
                    // could lead a walk down the tree round in a circle.
                    if (pChild->nParentId != nId)
                        throw EngineError("The folder tables of the catalog are damaged: run "
                                          "kestrel-cli reindex.");
                    subdirectories.push_back(pChild);
                }
        return subdirectories;
    }
    if (const auto it = m_children.find(nId); it != m_children.end())
        for (const size_t i : it->second)
            subdirectories.push_back(&m_dirs[i]);
    return subdirectories;
}

std::vector<TreeFile> CatalogTree::Files(int64_t nId) const {
    if (!m_pArchives)
        return DirectoryFiles(nId);
    if (ArchiveFolders::IsArchiveFolder(nId))
        return m_pArchives->Files(nId);
    std::vector<TreeFile> files = DirectoryFiles(nId);
    if (HoldsArchives(nId))
        m_pArchives->MarkArchives(*DirById(nId), files);
    return files;
}

std::vector<const TreeDir*> CatalogTree::Archives(int64_t nId) const {
    std::vector<const TreeDir*> archives;
    if (!HoldsArchives(nId))
        return archives;
    for (const TreeFile& file : Files(nId))
        if (file.nFolderId)
            if (const TreeDir* pDir = DirById(*file.nFolderId))
                archives.push_back(pDir);
    return archives;
}

bool CatalogTree::HoldsArchives(int64_t nId) const {
    if (!m_pArchives)
        return false;
    if (ArchiveFolders::IsArchiveFolder(nId))
        return DirById(nId) && m_pArchives->HoldsArchives(nId);
    const TreeDir* pDir = DirById(nId);
    if (!pDir)
        return false;
    if (m_pArchives->HoldsArchives(pDir->nId))
        return true;
    if (!m_pStored)
        if (const auto aliases = m_aliases.find(m_byId.at(pDir->nId)); aliases != m_aliases.end())
            for (const int64_t nAlias : aliases->second)
                if (m_pArchives->HoldsArchives(nAlias))
                    return true;
    return false;
}

std::vector<TreeFile> CatalogTree::DirectoryFiles(int64_t nId) const {
    std::vector<TreeFile> files;
    const TreeDir* pDir = DirById(nId);
    if (!pDir)
        return files;
    std::vector<int64_t> ids = {pDir->nId};
    if (!m_pStored)
        if (const auto aliases = m_aliases.find(m_byId.at(nId)); aliases != m_aliases.end())
            ids.insert(ids.end(), aliases->second.begin(), aliases->second.end());
    for (const int64_t nRowId : ids) {
        std::optional<ResultSet> rows;
        if (m_pNameIndex) {
            // The index knows the stretches of ids a folder's files take.
            Statement statement =
                m_database.Prepare(m_bTimes ? CatalogSql::kTreeFilesBetween
                                            : CatalogSql::kTreeFilesBetweenWithoutTimes);
            statement.BindInt64(3, nRowId);
            std::vector<IdRange> ranges = m_pNameIndex->FilesOfDirs({{nRowId, nRowId}});
            uint64_t nRows = 0;
            for (const IdRange& range : ranges)
                nRows += static_cast<uint64_t>(range.nHigh - range.nLow) + 1;
            files.reserve(files.size() + std::min<uint64_t>(nRows, uint64_t(1) << 22));
            rows.emplace(std::move(statement), std::move(ranges), 1);
        } else {
            Statement statement = m_database.Prepare(m_bTimes ? CatalogSql::kTreeFiles
                                                              : CatalogSql::kTreeFilesWithoutTimes);
            statement.BindInt64(1, nRowId);
            rows.emplace(std::move(statement));
        }
        for (; !rows->IsEOF(); rows->MoveNext()) {
            TreeFile& file = files.emplace_back();
            file.nId = rows->GetInt64(0);
            file.strName = rows->GetText(1);
            if (!rows->IsNull(2) && rows->GetInt64(2) >= 0)
                file.nSize = rows->GetInt64(2);
            if (!rows->IsNull(3))
                file.checksum = rows->GetText(3);
            if (!rows->IsNull(4))
                file.nMtimeNs = rows->GetInt64(4);
        }
    }
    if (m_pStored) {
        const std::vector<uint32_t> modes = m_pStored->tables.FileModes(nId);
        if (modes.size() == files.size())
            for (size_t i = 0; i < files.size(); ++i)
                if (modes[i] != 0)
                    files[i].nMode = modes[i];
    }
    return files;
}
