#include "audit/Diff.h"

#include "catalog/CatalogInfo.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "scan/Md5.h"
#include "search/Search.h"

#include <algorithm>
#include <thread>
#include <unordered_map>

namespace {

// A catalog's files as paths below its start directory, ordered so that two
// catalogs can be walked side by side: by directory, then by name.
struct TreeSide {
    struct File {
        uint32_t nDir; // rank of its directory in dirs
        std::string strName;
        int64_t nSize; // -1 when unknown
        bool bHasDigest;
        Md5Digest digest;
    };
    std::vector<std::string> dirs;     // relative paths, sorted; "" is the start directory
    std::vector<std::string> fullDirs; // each one's path as stored
    std::vector<File> files;           // sorted by (nDir, strName)

    std::string FullPath(const File& file) const {
        return FilePath(fullDirs[file.nDir], file.strName);
    }
};

std::string ChecksumText(const TreeSide::File& file) {
    return file.bHasDigest ? DigestToHex(file.digest) : std::string();
}

// The path of a directory relative to the start directory: "" for the start
// itself; a directory outside it (a catalog made elsewhere) keeps its path.
// Only whole names count: /database is not below /data.
std::string RelativeDir(const std::string& strDir, const std::string& strStart) {
    if (strDir.compare(0, strStart.size(), strStart) != 0)
        return strDir;
    if (strDir.size() != strStart.size() && strDir[strStart.size()] != '/' &&
        (strStart.empty() || strStart.back() != '/'))
        return strDir;
    size_t nBegin = strStart.size();
    while (nBegin < strDir.size() && strDir[nBegin] == '/')
        ++nBegin;
    return strDir.substr(nBegin);
}

TreeSide ReadSide(Database& database) {
    TreeSide side;
    // Only the start directory is wanted: no pass over every file for totals.
    const std::string strStart = ReadCatalogInfo(database, false).strStartDir.value_or("");
    struct DirRow {
        std::string strRel, strFull;
        int64_t nId;
    };
    std::vector<DirRow> dirRows;
    std::unordered_map<int64_t, uint32_t> rankById; // the ranks are set once the paths are sorted
    for (ResultSet rows(database.Prepare(CatalogSql::kAllDirs)); !rows.IsEOF(); rows.MoveNext()) {
        const int64_t nId = rows.GetInt64(0);
        if (!rankById.emplace(nId, 0).second)
            continue; // an id given twice (a catalog made elsewhere): its first row stands
        std::string strFull = rows.GetText(1);
        std::string strRel = RelativeDir(strFull, strStart);
        dirRows.push_back({std::move(strRel), std::move(strFull), nId});
    }
    std::sort(dirRows.begin(), dirRows.end(), [](const DirRow& a, const DirRow& b) {
        return a.strRel != b.strRel ? a.strRel < b.strRel : a.nId < b.nId;
    });
    // Rows that come to the same relative path share one rank.
    for (DirRow& row : dirRows) {
        if (side.dirs.empty() || side.dirs.back() != row.strRel) {
            side.dirs.push_back(std::move(row.strRel));
            side.fullDirs.push_back(std::move(row.strFull));
        }
        rankById[row.nId] = static_cast<uint32_t>(side.dirs.size() - 1);
    }
    for (ResultSet rows(database.Prepare(CatalogSql::kFilesOfDirs)); !rows.IsEOF();
         rows.MoveNext()) {
        const auto it = rankById.find(rows.GetInt64(0));
        if (it == rankById.end())
            continue; // a file of no directory: no path to compare by
        TreeSide::File file{
            it->second, rows.GetText(1), rows.IsNull(2) ? -1 : rows.GetInt64(2), false, {}};
        if (!rows.IsNull(3))
            file.bHasDigest = HexToDigest(rows.GetTextView(3), file.digest);
        side.files.push_back(std::move(file));
    }
    std::sort(side.files.begin(), side.files.end(), [](const auto& a, const auto& b) {
        return a.nDir != b.nDir ? a.nDir < b.nDir : a.strName < b.strName;
    });
    return side;
}

std::string JoinRelative(const std::string& strDir, const std::string& strName) {
    return strDir.empty() ? strName : strDir + "/" + strName;
}

} // namespace

std::vector<DiffLine> DiffCatalogs(Database& oldDb, Database& newDb, DiffCounts& counts) {
    counts = DiffCounts{};
    // The two catalogs are read and sorted side by side.
    TreeSide newSide;
    std::exception_ptr newError;
    std::thread reader([&] {
        try {
            newSide = ReadSide(newDb);
        } catch (...) {
            newError = std::current_exception();
        }
    });
    TreeSide oldSide;
    try {
        oldSide = ReadSide(oldDb);
    } catch (...) {
        reader.join();
        throw;
    }
    reader.join();
    if (newError)
        std::rethrow_exception(newError);

    std::vector<DiffLine> lines;
    auto addLine = [&](char cStatus, std::string strPath, bool bDirectory) -> DiffLine& {
        DiffLine& line = lines.emplace_back();
        line.cStatus = cStatus;
        line.strPath = std::move(strPath);
        line.bDirectory = bDirectory;
        return line;
    };
    // Directories on one side only.
    auto oneSidedDir = [&](const TreeSide& side, std::vector<std::string>::const_iterator dir,
                           bool bOld) {
        if (dir->empty())
            return; // the start directory
        DiffLine& line = addLine(bOld ? 'D' : 'A', *dir + "/", true);
        (bOld ? line.strOldPath : line.strNewPath) = side.fullDirs[dir - side.dirs.begin()];
        ++(bOld ? counts.nDirsDeleted : counts.nDirsAdded);
    };
    auto oldDir = oldSide.dirs.cbegin(), newDir = newSide.dirs.cbegin();
    while (oldDir != oldSide.dirs.cend() || newDir != newSide.dirs.cend()) {
        if (newDir == newSide.dirs.cend() || (oldDir != oldSide.dirs.cend() && *oldDir < *newDir)) {
            oneSidedDir(oldSide, oldDir++, true);
        } else if (oldDir == oldSide.dirs.cend() || *newDir < *oldDir) {
            oneSidedDir(newSide, newDir++, false);
        } else {
            ++oldDir;
            ++newDir;
        }
    }
    // Files, by (directory path, name) on both sides.
    auto key = [](const TreeSide& side, const TreeSide::File& file) {
        return std::pair<const std::string&, const std::string&>(side.dirs[file.nDir],
                                                                 file.strName);
    };
    auto size = [](const TreeSide::File& file) {
        return file.nSize < 0 ? std::optional<int64_t>() : std::optional<int64_t>(file.nSize);
    };
    auto oneSidedFile = [&](const TreeSide& side, const TreeSide::File& file, bool bOld) {
        DiffLine& line =
            addLine(bOld ? 'D' : 'A', JoinRelative(side.dirs[file.nDir], file.strName), false);
        (bOld ? line.nOldSize : line.nNewSize) = size(file);
        (bOld ? line.strOldPath : line.strNewPath) = side.FullPath(file);
        (bOld ? line.strOldChecksum : line.strNewChecksum) = ChecksumText(file);
        ++(bOld ? counts.nFilesDeleted : counts.nFilesAdded);
    };
    size_t i = 0, j = 0;
    while (i < oldSide.files.size() || j < newSide.files.size()) {
        const bool bOldFirst = j == newSide.files.size() ||
                               (i < oldSide.files.size() &&
                                key(oldSide, oldSide.files[i]) < key(newSide, newSide.files[j]));
        const bool bNewFirst =
            !bOldFirst && (i == oldSide.files.size() ||
                           key(newSide, newSide.files[j]) < key(oldSide, oldSide.files[i]));
        if (bOldFirst) {
            oneSidedFile(oldSide, oldSide.files[i++], true);
        } else if (bNewFirst) {
            oneSidedFile(newSide, newSide.files[j++], false);
        } else {
            const auto& before = oldSide.files[i++];
            const auto& after = newSide.files[j++];
            const bool bModified =
                before.nSize != after.nSize ||
                (before.bHasDigest && after.bHasDigest && before.digest != after.digest);
            if (bModified) {
                DiffLine& line =
                    addLine('M', JoinRelative(newSide.dirs[after.nDir], after.strName), false);
                line.nOldSize = size(before);
                line.nNewSize = size(after);
                line.strOldPath = oldSide.FullPath(before);
                line.strNewPath = newSide.FullPath(after);
                line.strOldChecksum = ChecksumText(before);
                line.strNewChecksum = ChecksumText(after);
                ++counts.nFilesModified;
            }
        }
    }
    std::sort(lines.begin(), lines.end(),
              [](const DiffLine& a, const DiffLine& b) { return a.strPath < b.strPath; });
    return lines;
}

ContentCounts
CheckContentCopied(Database& oldDb, Database& newDb,
                   const std::function<void(const std::string&, int64_t)>& fnMissing) {
    struct Content {
        int64_t nSize;
        Md5Digest digest;
        bool operator<(const Content& other) const {
            return nSize != other.nSize ? nSize < other.nSize : digest < other.digest;
        }
    };
    std::vector<Content> copies;
    {
        Statement statement = newDb.Prepare(CatalogSql::kFilesWithChecksums);
        statement.BindInt64(1, 0);
        for (ResultSet rows(std::move(statement)); !rows.IsEOF(); rows.MoveNext()) {
            Content content{rows.GetInt64(1), {}};
            if (HexToDigest(rows.GetTextView(2), content.digest))
                copies.push_back(content);
        }
    }
    std::sort(copies.begin(), copies.end());
    ContentCounts counts;
    for (ResultSet rows(oldDb.Prepare(CatalogSql::kAllFiles)); !rows.IsEOF(); rows.MoveNext()) {
        Content content{rows.IsNull(2) ? -1 : rows.GetInt64(2), {}};
        if (rows.IsNull(3) || !HexToDigest(rows.GetTextView(3), content.digest)) {
            ++counts.nNotComparable;
            continue;
        }
        if (std::binary_search(copies.begin(), copies.end(), content)) {
            ++counts.nCopied;
            continue;
        }
        ++counts.nMissing;
        fnMissing(FilePath(rows.GetTextView(0), rows.GetTextView(1)), content.nSize);
    }
    return counts;
}
