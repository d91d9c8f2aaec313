#include "browse/CatalogTree.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "scan/Paths.h"

#include <algorithm>

namespace {

// The path above a normal path: "/a/b" gives "/a", "/a" gives "/"; nothing
// above the root or a single relative name.
std::optional<std::string> PathAbove(const std::string& strNormal) {
    const size_t nSlash = strNormal.find_last_of('/');
    if (nSlash == std::string::npos || strNormal == "/")
        return std::nullopt;
    return nSlash == 0 ? std::string("/") : strNormal.substr(0, nSlash);
}

} // namespace

CatalogTree::CatalogTree(Database& database) : m_database(database) {
    m_bTimes = database.QueryInt64(CatalogSql::kHasFileTimes) > 0;
    std::vector<std::string> normals;
    for (ResultSet rows(database.Prepare(CatalogSql::kTreeDirs)); !rows.IsEOF(); rows.MoveNext()) {
        TreeDir& dir = m_dirs.emplace_back();
        dir.nId = rows.GetInt64(0);
        dir.strPath = rows.GetText(1);
        m_byId.emplace(dir.nId, m_dirs.size() - 1);
        normals.push_back(NormalPath(dir.strPath));
        m_byPath.emplace(normals.back(), m_dirs.size() - 1);
    }
    for (size_t i = 0; i < m_dirs.size(); ++i) {
        // A second row of a path hangs where the first does.
        std::optional<std::string> above = PathAbove(normals[i]);
        for (; above; above = PathAbove(*above)) {
            if (const auto it = m_byPath.find(*above); it != m_byPath.end()) {
                m_dirs[i].nParentId = m_dirs[it->second].nId;
                break;
            }
        }
        if (m_dirs[i].nParentId)
            m_children[*m_dirs[i].nParentId].push_back(i);
        else
            m_tops.push_back(m_dirs[i].nId);
    }
    for (ResultSet rows(database.Prepare(m_bTimes ? CatalogSql::kTreeFileSums
                                                  : CatalogSql::kTreeFileSumsWithoutTimes));
         !rows.IsEOF(); rows.MoveNext()) {
        const auto it = m_byId.find(rows.GetInt64(0));
        if (it == m_byId.end())
            continue; // files of a directory the catalog does not hold
        TreeTotals& totals = m_dirs[it->second].totals;
        totals.nFiles = static_cast<uint64_t>(rows.GetInt64(1));
        totals.nBytes = (static_cast<ByteTotal>(rows.GetInt64(2)) << 32) +
                        static_cast<ByteTotal>(rows.GetInt64(3));
        if (!rows.IsNull(4))
            totals.nNewestMtimeNs = rows.GetInt64(4);
    }
    // Each directory's totals into its parent's, deepest first: the order
    // of a walk from the tops, backwards.
    std::vector<size_t> order, stack;
    for (const int64_t nTop : m_tops)
        stack.push_back(m_byId.at(nTop));
    while (!stack.empty()) {
        const size_t i = stack.back();
        stack.pop_back();
        order.push_back(i);
        if (const auto it = m_children.find(m_dirs[i].nId); it != m_children.end())
            stack.insert(stack.end(), it->second.begin(), it->second.end());
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const TreeDir& dir = m_dirs[*it];
        if (!dir.nParentId)
            continue;
        TreeTotals& up = m_dirs[m_byId.at(*dir.nParentId)].totals;
        up.nBytes += dir.totals.nBytes;
        up.nFiles += dir.totals.nFiles;
        up.nDirs += dir.totals.nDirs + 1;
        if (dir.totals.nNewestMtimeNs)
            up.nNewestMtimeNs =
                std::max(up.nNewestMtimeNs.value_or(INT64_MIN), *dir.totals.nNewestMtimeNs);
    }
}

const TreeDir* CatalogTree::DirById(int64_t nId) const {
    const auto it = m_byId.find(nId);
    return it == m_byId.end() ? nullptr : &m_dirs[it->second];
}

const TreeDir* CatalogTree::DirByPath(std::string_view path) const {
    const auto it = m_byPath.find(NormalPath(path));
    return it == m_byPath.end() ? nullptr : &m_dirs[it->second];
}

std::vector<const TreeDir*> CatalogTree::Subdirectories(int64_t nId) const {
    std::vector<const TreeDir*> subdirectories;
    if (const auto it = m_children.find(nId); it != m_children.end())
        for (const size_t i : it->second)
            subdirectories.push_back(&m_dirs[i]);
    return subdirectories;
}

std::vector<TreeFile> CatalogTree::Files(int64_t nId) const {
    Statement statement =
        m_database.Prepare(m_bTimes ? CatalogSql::kTreeFiles : CatalogSql::kTreeFilesWithoutTimes);
    statement.BindInt64(1, nId);
    std::vector<TreeFile> files;
    for (ResultSet rows(std::move(statement)); !rows.IsEOF(); rows.MoveNext()) {
        TreeFile& file = files.emplace_back();
        file.nId = rows.GetInt64(0);
        file.strName = rows.GetText(1);
        if (!rows.IsNull(2) && rows.GetInt64(2) >= 0)
            file.nSize = rows.GetInt64(2);
        if (!rows.IsNull(3))
            file.checksum = rows.GetText(3);
        if (!rows.IsNull(4))
            file.nMtimeNs = rows.GetInt64(4);
    }
    return files;
}
