#include "browse/CatalogTree.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "scan/Paths.h"

#include <algorithm>

namespace {

// Whether the normal path above is a folder above path: whole names only,
// /data is not above /database.
bool IsAbove(std::string_view above, std::string_view path) {
    return !above.empty() && path.size() > above.size() && path.substr(0, above.size()) == above &&
           (above == "/" || path[above.size()] == '/');
}

// Byte order with '/' before every other byte, so that everything below a
// folder comes right after it.
bool TreeOrder(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const int nX = x == '/' ? -1 : static_cast<unsigned char>(x);
        const int nY = y == '/' ? -1 : static_cast<unsigned char>(y);
        return nX < nY;
    });
}

} // namespace

CatalogTree::CatalogTree(Database& database) : m_database(database) {
    m_bTimes = database.QueryInt64(CatalogSql::kHasFileTimes) > 0;
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
    // Each folder's parent is the nearest folder above it: walked in tree
    // order, the folders above the one at hand are those on the stack.
    std::vector<size_t> order(m_dirs.size()), stack;
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return TreeOrder(normals[a], normals[b]); });
    for (const size_t i : order) {
        while (!stack.empty() && !IsAbove(normals[stack.back()], normals[i]))
            stack.pop_back();
        if (!stack.empty())
            m_dirs[i].nParentId = m_dirs[stack.back()].nId;
        stack.push_back(i);
    }
    for (size_t i = 0; i < m_dirs.size(); ++i) {
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
        totals.nFiles += static_cast<uint64_t>(rows.GetInt64(1));
        totals.nBytes += (static_cast<ByteTotal>(rows.GetInt64(2)) << 32) +
                         static_cast<ByteTotal>(rows.GetInt64(3));
        if (!rows.IsNull(4))
            totals.nNewestMtimeNs =
                std::max(totals.nNewestMtimeNs.value_or(INT64_MIN), rows.GetInt64(4));
    }
    // Each directory's totals into its parent's, deepest first: the tree
    // order has every folder before those below it.
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
    std::vector<TreeFile> files;
    const auto it = m_byId.find(nId);
    if (it == m_byId.end())
        return files;
    std::vector<int64_t> ids = {m_dirs[it->second].nId};
    if (const auto aliases = m_aliases.find(it->second); aliases != m_aliases.end())
        ids.insert(ids.end(), aliases->second.begin(), aliases->second.end());
    for (const int64_t nRowId : ids) {
        Statement statement = m_database.Prepare(m_bTimes ? CatalogSql::kTreeFiles
                                                          : CatalogSql::kTreeFilesWithoutTimes);
        statement.BindInt64(1, nRowId);
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
    }
    return files;
}
