// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/TreeTables.h"

#include "browse/TreeParents.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/NameIndex.h"
#include "catalog/ResultSet.h"
#include "scan/Paths.h"

#include <algorithm>
#include <unordered_map>

namespace {

// 1: the first layout.
constexpr int64_t kTablesVersion = 2;
constexpr int kBlockBits = 6;
// More subfolders of one folder than any disk holds: a damaged record.
constexpr uint64_t kMaxChildren = uint64_t(1) << 28;

// Flags of a directory's record in a block: which fields follow, and in the
// top three bits the slot of its mode in the block's table of modes (0 for
// none, kModeEscape for a slot written after the flags).
constexpr unsigned kHasParent = 1u << 0;
constexpr unsigned kParentAsBefore = 1u << 1; // the parent of the record before
constexpr unsigned kHasChildren = 1u << 2;
constexpr unsigned kHasOwnTime = 1u << 3;
constexpr unsigned kHasNewest = 1u << 4;
constexpr unsigned kModeShift = 5;
constexpr unsigned kModeEscape = 7;

// Differences are taken modulo 2^64: ids and times may take the whole
// signed range, and a difference between any two is one value.
uint64_t Diff(int64_t nTo, int64_t nFrom) {
    return static_cast<uint64_t>(nTo) - static_cast<uint64_t>(nFrom);
}
int64_t Add(int64_t nFrom, uint64_t nDiff) {
    return static_cast<int64_t>(static_cast<uint64_t>(nFrom) + nDiff);
}
// Small differences either way as small numbers: 0, -1, 1, -2, ...
uint64_t ZigZag(uint64_t nDiff) {
    return (nDiff << 1) ^ (0 - (nDiff >> 63));
}
uint64_t UnZigZag(uint64_t n) {
    return (n >> 1) ^ (0 - (n & 1));
}

template <typename T> void AppendVarint(std::string& strBytes, T nValue) {
    while (nValue >= 0x80) {
        strBytes += static_cast<char>((nValue & 0x7F) | 0x80);
        nValue >>= 7;
    }
    strBytes += static_cast<char>(nValue);
}

[[noreturn]] void ThrowDamaged() {
    throw EngineError("The folder tables of the catalog are damaged: run kestrel-cli reindex.");
}

// The check of a block's bytes (32-bit FNV-1a), written after them: a byte
// changed by another program is found before a field is read, instead of
// giving another folder's sizes or children.
uint32_t BlockCheck(std::string_view bytes) {
    uint32_t nHash = 2166136261u;
    for (const char c : bytes)
        nHash = (nHash ^ static_cast<unsigned char>(c)) * 16777619u;
    return nHash;
}

void AppendBlockCheck(std::string& strBytes) {
    const uint32_t nCheck = BlockCheck(strBytes);
    for (int i = 0; i < 4; ++i)
        strBytes += static_cast<char>(nCheck >> (8 * i) & 0xFF);
}

// The bytes of a block without their check; raises when it does not hold.
std::string_view CheckedBlock(std::string_view bytes) {
    if (bytes.size() < 4)
        ThrowDamaged();
    const std::string_view body = bytes.substr(0, bytes.size() - 4);
    uint32_t nStored = 0;
    for (int i = 0; i < 4; ++i)
        nStored |= uint32_t(static_cast<unsigned char>(bytes[body.size() + i])) << (8 * i);
    if (nStored != BlockCheck(body))
        ThrowDamaged();
    return body;
}

// Reads the fields of a block's bytes in turn; a value cut short or too long
// means a damaged table.
class Reader {
public:
    explicit Reader(std::string_view bytes) : m_bytes(CheckedBlock(bytes)) {}
    template <typename T = uint64_t> T Varint() {
        T nValue = 0;
        for (unsigned nShift = 0; nShift < sizeof(T) * 8; nShift += 7) {
            if (m_nPos >= m_bytes.size())
                ThrowDamaged();
            const auto b = static_cast<unsigned char>(m_bytes[m_nPos++]);
            nValue |= static_cast<T>(b & 0x7F) << nShift;
            if (b < 0x80)
                return nValue;
        }
        ThrowDamaged();
    }
    bool AtEnd() const { return m_nPos >= m_bytes.size(); }
    unsigned Byte() {
        if (m_nPos >= m_bytes.size())
            ThrowDamaged();
        return static_cast<unsigned char>(m_bytes[m_nPos++]);
    }

private:
    std::string_view m_bytes;
    size_t m_nPos = 0;
};

// A block's table of modes: each distinct one once, in the order met.
uint32_t SlotOf(std::vector<uint32_t>& modes, uint32_t nMode) {
    const auto it = std::find(modes.begin(), modes.end(), nMode);
    if (it != modes.end())
        return static_cast<uint32_t>(it - modes.begin());
    modes.push_back(nMode);
    return static_cast<uint32_t>(modes.size() - 1);
}

std::vector<uint32_t> ReadModes(Reader& reader) {
    std::vector<uint32_t> modes(reader.Varint());
    for (uint32_t& nMode : modes)
        nMode = reader.Varint<uint32_t>();
    return modes;
}

using ModeRuns = std::vector<std::pair<uint32_t, uint32_t>>; // (files, st_mode)

// Calls fn(directory id, its runs) for each directory of a block of
// tree_file_modes.
template <typename Fn> void DecodeFileModes(int64_t nBlock, std::string_view bytes, Fn fn) {
    Reader reader(bytes);
    const uint64_t nBits = reader.Varint();
    const std::vector<uint32_t> modes = ReadModes(reader);
    ModeRuns runs;
    for (int nSlot = 0; nSlot < 64; ++nSlot) {
        if (!(nBits >> nSlot & 1))
            continue;
        runs.resize(reader.Varint());
        for (auto& [nCount, nMode] : runs) {
            nCount = reader.Varint<uint32_t>();
            const uint64_t nIndex = reader.Varint();
            if (nIndex >= modes.size())
                ThrowDamaged();
            nMode = modes[nIndex];
        }
        fn(Add(nBlock * (int64_t(1) << kBlockBits), static_cast<uint64_t>(nSlot)), runs);
    }
    if (!reader.AtEnd())
        ThrowDamaged();
}

template <typename Fn> void DecodeDirs(int64_t nBlock, std::string_view bytes, Fn fn) {
    Reader reader(bytes);
    const uint64_t nBits = reader.Varint();
    const std::vector<uint32_t> modes = ReadModes(reader);
    std::optional<int64_t> nLastParent;
    int64_t nLastOwn = 0, nLastNewest = 0;
    StoredDir dir;
    for (int nSlot = 0; nSlot < 64; ++nSlot) {
        if (!(nBits >> nSlot & 1))
            continue;
        dir = StoredDir();
        dir.nId = Add(nBlock * (int64_t(1) << kBlockBits), static_cast<uint64_t>(nSlot));
        const unsigned nFlags = reader.Byte();
        if (nFlags & kHasParent) {
            if (nFlags & kParentAsBefore) {
                if (!nLastParent)
                    ThrowDamaged();
                dir.nParentId = nLastParent;
            } else {
                dir.nParentId = Add(dir.nId, UnZigZag(reader.Varint()));
            }
            nLastParent = dir.nParentId;
        }
        if (const unsigned nSlotOfMode = nFlags >> kModeShift; nSlotOfMode != 0) {
            const uint64_t nIndex = nSlotOfMode == kModeEscape ? reader.Varint() : nSlotOfMode - 1;
            if (nIndex >= modes.size())
                ThrowDamaged();
            dir.nMode = modes[nIndex];
        }
        if (nFlags & kHasChildren) {
            const uint64_t nRuns = reader.Varint();
            int64_t nEnd = 0;
            for (uint64_t r = 0; r < nRuns; ++r) {
                const int64_t nStart = r == 0 ? Add(dir.nId, UnZigZag(reader.Varint()))
                                              : Add(nEnd, reader.Varint() + 2);
                const uint64_t nLength = reader.Varint() + 1;
                if (nLength > kMaxChildren - dir.children.size())
                    ThrowDamaged();
                for (uint64_t k = 0; k < nLength; ++k)
                    dir.children.push_back(Add(nStart, k));
                nEnd = dir.children.back();
            }
            dir.totals.nDirs = reader.Varint();
        }
        dir.totals.nFiles = reader.Varint();
        dir.totals.nBytes = reader.Varint<ByteTotal>();
        if (nFlags & kHasOwnTime) {
            nLastOwn = Add(nLastOwn, UnZigZag(reader.Varint()));
            dir.nMtimeNs = nLastOwn;
        }
        if (nFlags & kHasNewest) {
            nLastNewest = Add(dir.nMtimeNs.value_or(nLastNewest), UnZigZag(reader.Varint()));
            dir.totals.nNewestMtimeNs = nLastNewest;
        }
        fn(dir);
    }
    if (!reader.AtEnd())
        ThrowDamaged();
}

} // namespace

struct TreeTablesBuilder::Rows {
    struct Dir {
        int64_t nId;
        std::string strNormal;
        uint32_t nMode = 0;
        std::optional<int64_t> nOwnTime;
        uint64_t nOwnFiles = 0;
        TreeTotals totals;
    };
    // Files of one directory, in a row, of one mode.
    struct Run {
        uint32_t nDir;
        uint32_t nCount;
        uint32_t nMode;
    };

    // The index of the directory nId; npos when not added.
    size_t Find(int64_t nId) {
        if (nLast < dirs.size() && dirs[nLast].nId == nId)
            return nLast;
        const auto it = std::lower_bound(dirs.begin(), dirs.end(), nId,
                                         [](const Dir& dir, int64_t n) { return dir.nId < n; });
        if (it == dirs.end() || it->nId != nId)
            return std::string::npos;
        nLast = static_cast<size_t>(it - dirs.begin());
        return nLast;
    }

    std::vector<Dir> dirs;
    std::vector<Run> runs;
    std::unordered_map<size_t, ModeRuns> carried;
    size_t nLast = std::string::npos;
    bool bAllNormal = true;
    bool bAnyFile = false;
    int64_t nMinFileId = 0, nMaxFileId = 0;
};

TreeTablesBuilder::TreeTablesBuilder() : m_pRows(std::make_unique<Rows>()) {}

TreeTablesBuilder::~TreeTablesBuilder() = default;

void TreeTablesBuilder::AddDirectory(int64_t nDirId, std::string_view path) {
    auto& dirs = m_pRows->dirs;
    if (!dirs.empty() && nDirId <= dirs.back().nId)
        m_bUnusable = true;
    Rows::Dir& dir = dirs.emplace_back();
    dir.nId = nDirId;
    dir.strNormal = NormalPath(path);
    if (dir.strNormal != path)
        m_pRows->bAllNormal = false;
}

void TreeTablesBuilder::SetDirectoryState(int64_t nDirId, std::optional<uint32_t> nMode,
                                          std::optional<int64_t> nMtimeNs) {
    const size_t i = m_pRows->Find(nDirId);
    if (i == std::string::npos)
        return;
    m_pRows->dirs[i].nMode = nMode.value_or(0);
    m_pRows->dirs[i].nOwnTime = nMtimeNs;
}

void TreeTablesBuilder::AddFile(int64_t nFileId, std::optional<int64_t> nDirId,
                                std::optional<int64_t> nSize, std::optional<int64_t> nMtimeNs,
                                std::optional<uint32_t> nMode) {
    Rows& rows = *m_pRows;
    if (rows.bAnyFile && nFileId <= rows.nMaxFileId)
        m_bUnusable = true;
    if (!rows.bAnyFile)
        rows.nMinFileId = nFileId;
    rows.bAnyFile = true;
    rows.nMaxFileId = nFileId;
    const size_t i = nDirId ? rows.Find(*nDirId) : std::string::npos;
    if (i == std::string::npos)
        return;
    Rows::Dir& dir = rows.dirs[i];
    ++dir.nOwnFiles;
    dir.totals.AddFile(nSize, nMtimeNs);
    const uint32_t nModeValue = nMode.value_or(0);
    if (!rows.runs.empty() && rows.runs.back().nDir == i && rows.runs.back().nMode == nModeValue)
        ++rows.runs.back().nCount;
    else
        rows.runs.push_back({static_cast<uint32_t>(i), 1, nModeValue});
}

void TreeTablesBuilder::CarryFileModes(int64_t nDirId,
                                       std::vector<std::pair<uint32_t, uint32_t>> runs) {
    const size_t i = m_pRows->Find(nDirId);
    if (i != std::string::npos)
        m_pRows->carried[i] = std::move(runs);
}

void TreeTablesBuilder::Write(Database& database) {
    database.Execute(CatalogSql::kDropTreeTables);
    Rows& rows = *m_pRows;
    auto& dirs = rows.dirs;
    std::vector<std::string> normals(dirs.size());
    for (size_t i = 0; i < dirs.size(); ++i)
        normals[i] = std::move(dirs[i].strNormal);
    std::vector<size_t> order;
    const std::vector<size_t> parents = ParentsByPath(normals, order);
    // Two rows of one path are one folder of the tree; the tables describe
    // only folders of one row each.
    for (size_t k = 1; k < order.size() && !m_bUnusable; ++k)
        if (normals[order[k]] == normals[order[k - 1]])
            m_bUnusable = true;
    if (m_bUnusable)
        return;
    normals = {};
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const size_t nUp = parents[*it];
        if (nUp == kNoParent)
            continue;
        dirs[nUp].totals.AddFolder(dirs[*it].totals);
    }
    // The children of each directory, in id order, back to back.
    std::vector<size_t> childStart(dirs.size() + 1, 0), children(dirs.size());
    for (size_t i = 0; i < dirs.size(); ++i)
        if (parents[i] != kNoParent)
            ++childStart[parents[i] + 1];
    for (size_t i = 0; i < dirs.size(); ++i)
        childStart[i + 1] += childStart[i];
    {
        std::vector<size_t> fill(childStart.begin(), childStart.end() - 1);
        for (size_t i = 0; i < dirs.size(); ++i)
            if (parents[i] != kNoParent)
                children[fill[parents[i]]++] = i;
    }
    std::stable_sort(rows.runs.begin(), rows.runs.end(),
                     [](const Rows::Run& a, const Rows::Run& b) { return a.nDir < b.nDir; });

    database.Execute(CatalogSql::kCreateTreeTables);
    Statement insertDirs = database.Prepare(CatalogSql::kInsertTreeDirs);
    Statement insertModes = database.Prepare(CatalogSql::kInsertTreeFileModes);
    std::string strBlock, strRecords, strModeBlock, strModeRecords;
    std::vector<uint32_t> modes, fileModes;
    ModeRuns dirRuns;
    size_t nRun = 0;
    for (size_t i = 0; i < dirs.size();) {
        const int64_t nBlock = TreeTables::BlockOf(dirs[i].nId);
        uint64_t nBits = 0, nModeBits = 0;
        modes.clear();
        fileModes.clear();
        strRecords.clear();
        strModeRecords.clear();
        std::optional<size_t> nLastParent;
        int64_t nLastOwn = 0, nLastNewest = 0;
        for (; i < dirs.size() && TreeTables::BlockOf(dirs[i].nId) == nBlock; ++i) {
            const Rows::Dir& dir = dirs[i];
            nBits |= uint64_t(1) << (dir.nId & 63);
            unsigned nFlags = 0;
            if (parents[i] != kNoParent)
                nFlags |= kHasParent | (nLastParent == parents[i] ? kParentAsBefore : 0);
            if (childStart[i + 1] > childStart[i])
                nFlags |= kHasChildren;
            if (dir.nOwnTime)
                nFlags |= kHasOwnTime;
            if (dir.totals.nNewestMtimeNs)
                nFlags |= kHasNewest;
            uint32_t nModeSlot = 0;
            if (dir.nMode != 0) {
                nModeSlot = SlotOf(modes, dir.nMode);
                nFlags |= std::min<unsigned>(nModeSlot + 1, kModeEscape) << kModeShift;
            }
            strRecords += static_cast<char>(nFlags);
            if (parents[i] != kNoParent) {
                if (!(nFlags & kParentAsBefore))
                    AppendVarint(strRecords, ZigZag(Diff(dirs[parents[i]].nId, dir.nId)));
                nLastParent = parents[i];
            }
            if (nModeSlot + 1 >= kModeEscape)
                AppendVarint(strRecords, nModeSlot);
            if (nFlags & kHasChildren) {
                // Runs of consecutive ids: a walk stores a folder's
                // subfolders one after another.
                std::vector<std::pair<int64_t, uint64_t>> runs; // first id, length
                for (size_t c = childStart[i]; c < childStart[i + 1]; ++c) {
                    const int64_t nChild = dirs[children[c]].nId;
                    if (!runs.empty() && Diff(nChild, runs.back().first) == runs.back().second)
                        ++runs.back().second;
                    else
                        runs.emplace_back(nChild, 1);
                }
                AppendVarint(strRecords, runs.size());
                int64_t nEnd = 0;
                for (size_t r = 0; r < runs.size(); ++r) {
                    AppendVarint(strRecords, r == 0 ? ZigZag(Diff(runs[r].first, dir.nId))
                                                    : Diff(runs[r].first, nEnd) - 2);
                    AppendVarint(strRecords, runs[r].second - 1);
                    nEnd = Add(runs[r].first, runs[r].second - 1);
                }
                AppendVarint(strRecords, dir.totals.nDirs);
            }
            AppendVarint(strRecords, dir.totals.nFiles);
            AppendVarint(strRecords, dir.totals.nBytes);
            if (dir.nOwnTime) {
                AppendVarint(strRecords, ZigZag(Diff(*dir.nOwnTime, nLastOwn)));
                nLastOwn = *dir.nOwnTime;
            }
            if (dir.totals.nNewestMtimeNs) {
                AppendVarint(strRecords, ZigZag(Diff(*dir.totals.nNewestMtimeNs,
                                                     dir.nOwnTime.value_or(nLastNewest))));
                nLastNewest = *dir.totals.nNewestMtimeNs;
            }

            // Its files' modes: those carried over when they still fit.
            dirRuns.clear();
            for (; nRun < rows.runs.size() && rows.runs[nRun].nDir == i; ++nRun)
                dirRuns.emplace_back(rows.runs[nRun].nCount, rows.runs[nRun].nMode);
            if (const auto it = rows.carried.find(i); it != rows.carried.end()) {
                uint64_t nCarried = 0;
                for (const auto& run : it->second)
                    nCarried += run.first;
                if (nCarried == dir.nOwnFiles)
                    dirRuns = it->second;
            }
            if (std::none_of(dirRuns.begin(), dirRuns.end(),
                             [](const auto& run) { return run.second != 0; }))
                continue;
            nModeBits |= uint64_t(1) << (dir.nId & 63);
            AppendVarint(strModeRecords, dirRuns.size());
            for (const auto& [nCount, nMode] : dirRuns) {
                AppendVarint(strModeRecords, nCount);
                AppendVarint(strModeRecords, SlotOf(fileModes, nMode));
            }
        }
        auto write = [&](Statement& insert, uint64_t nSlots, const std::vector<uint32_t>& table,
                         const std::string& strBody, std::string& strOut) {
            strOut.clear();
            AppendVarint(strOut, nSlots);
            AppendVarint(strOut, table.size());
            for (const uint32_t nMode : table)
                AppendVarint(strOut, nMode);
            strOut += strBody;
            AppendBlockCheck(strOut);
            insert.BindInt64(1, nBlock);
            insert.BindBlob(2, strOut);
            insert.Run();
        };
        write(insertDirs, nBits, modes, strRecords, strBlock);
        if (nModeBits != 0)
            write(insertModes, nModeBits, fileModes, strModeRecords, strModeBlock);
    }

    std::string strTops;
    int64_t nLastTop = 0;
    for (size_t i = 0; i < dirs.size(); ++i) {
        if (parents[i] != kNoParent)
            continue;
        AppendVarint(strTops, ZigZag(Diff(dirs[i].nId, nLastTop)));
        nLastTop = dirs[i].nId;
    }
    const bool bTimes = database.QueryInt64(CatalogSql::kHasFileTimes) > 0;
    Statement meta = database.Prepare(CatalogSql::kInsertTreeMeta);
    const std::pair<const char*, int64_t> values[] = {
        {"version", kTablesVersion},
        {"changes", 0},
        {"dirs", static_cast<int64_t>(dirs.size())},
        {"min_dir_id", dirs.empty() ? 0 : dirs.front().nId},
        {"max_dir_id", dirs.empty() ? 0 : dirs.back().nId},
        {"min_file_id", rows.nMinFileId},
        {"max_file_id", rows.nMaxFileId},
        {"normal_paths", rows.bAllNormal ? 1 : 0},
        {"times", bTimes ? 1 : 0}};
    for (const auto& [pszKey, nValue] : values) {
        meta.BindText(1, pszKey);
        meta.BindInt64(2, nValue);
        meta.Run();
    }
    meta.BindText(1, "tops");
    AppendBlockCheck(strTops);
    meta.BindBlob(2, strTops);
    meta.Run();
    for (const CatalogSql::NameIndexTrigger& trigger : CatalogSql::kTreeTriggers)
        database.Execute(trigger.pszSql);
    database.Execute(bTimes ? CatalogSql::kTreeFilesUpdateTrigger.pszSql
                            : CatalogSql::kTreeFilesUpdateTriggerWithoutTimes.pszSql);
}

namespace {

// The version the tables of a catalog were written in; 0 when it has none.
int64_t TablesVersion(Database& database) {
    if (!database.HasTable("tree_meta") || !database.HasTable("tree_dirs") ||
        !database.HasTable("tree_file_modes"))
        return 0;
    return database.QueryInt64(CatalogSql::kTreeTablesVersion);
}

} // namespace

void RebuildTreeTables(Database& database) {
    TreeTablesBuilder builder;
    // What the tables held, by directory id, to carry over.
    struct Carried {
        std::optional<uint32_t> nMode;
        std::optional<int64_t> nMtimeNs;
    };
    std::unordered_map<int64_t, Carried> carried;
    std::unordered_map<int64_t, ModeRuns> carriedFiles;
    if (TablesVersion(database) == kTablesVersion) {
        // A damaged block carries nothing over: its folders' modes and times
        // become unknown, and the rest is built from the rows as ever.
        for (ResultSet rows(database.Prepare(CatalogSql::kAllTreeDirs)); !rows.IsEOF();
             rows.MoveNext()) {
            std::vector<std::pair<int64_t, Carried>> block;
            try {
                DecodeDirs(rows.GetInt64(0), rows.GetTextView(1), [&](const StoredDir& dir) {
                    if (dir.nMode || dir.nMtimeNs)
                        block.emplace_back(dir.nId, Carried{dir.nMode, dir.nMtimeNs});
                });
            } catch (const EngineError&) {
                continue;
            }
            carried.insert(block.begin(), block.end());
        }
        for (ResultSet rows(database.Prepare(CatalogSql::kAllTreeFileModes)); !rows.IsEOF();
             rows.MoveNext()) {
            std::vector<std::pair<int64_t, ModeRuns>> block;
            try {
                DecodeFileModes(rows.GetInt64(0), rows.GetTextView(1),
                                [&](int64_t nDirId, const ModeRuns& runs) {
                                    block.emplace_back(nDirId, runs);
                                });
            } catch (const EngineError&) {
                continue;
            }
            carriedFiles.insert(block.begin(), block.end());
        }
    }
    for (ResultSet rows(database.Prepare(CatalogSql::kDirsForTree)); !rows.IsEOF();
         rows.MoveNext()) {
        if (rows.GetInt64(2) == 0) {
            builder.SetUnusable();
            continue;
        }
        const int64_t nId = rows.GetInt64(0);
        builder.AddDirectory(nId, rows.GetTextView(1));
        if (const auto it = carried.find(nId); it != carried.end())
            builder.SetDirectoryState(nId, it->second.nMode, it->second.nMtimeNs);
    }
    const bool bTimes = database.QueryInt64(CatalogSql::kHasFileTimes) > 0;
    for (ResultSet rows(database.Prepare(bTimes ? CatalogSql::kFilesForTree
                                                : CatalogSql::kFilesForTreeWithoutTimes));
         !rows.IsEOF(); rows.MoveNext()) {
        if (rows.GetInt64(4) == 0) {
            builder.SetUnusable();
            continue;
        }
        builder.AddFile(rows.GetInt64(0),
                        rows.GetInt64(5) ? std::optional<int64_t>(rows.GetInt64(1)) : std::nullopt,
                        rows.IsNull(2) ? std::nullopt : std::optional<int64_t>(rows.GetInt64(2)),
                        rows.IsNull(3) ? std::nullopt : std::optional<int64_t>(rows.GetInt64(3)),
                        std::nullopt);
    }
    for (auto& [nDirId, runs] : carriedFiles)
        builder.CarryFileModes(nDirId, std::move(runs));
    builder.Write(database);
}

std::optional<TreeTables> TreeTables::Open(Database& database) {
    if (TablesVersion(database) != kTablesVersion)
        return std::nullopt;
    TreeTables tables(database);
    std::optional<int64_t> nChanges;
    int64_t nMinFileId = 0, nMaxFileId = 0, nMinDirId = 0, nMaxDirId = 0, nTimes = -1;
    for (ResultSet rows(database.Prepare(CatalogSql::kReadTreeMeta)); !rows.IsEOF();
         rows.MoveNext()) {
        const std::string_view key = rows.GetTextView(0);
        const int64_t nValue = rows.GetInt64(1);
        if (key == "changes" && rows.GetTextView(1) == "0")
            nChanges = 0; // a value set by hand (negative, a fraction) is never trusted
        else if (key == "min_file_id")
            nMinFileId = nValue;
        else if (key == "max_file_id")
            nMaxFileId = nValue;
        else if (key == "min_dir_id")
            nMinDirId = nValue;
        else if (key == "max_dir_id")
            nMaxDirId = nValue;
        else if (key == "normal_paths")
            tables.m_bNormalPaths = nValue == 1;
        else if (key == "times")
            nTimes = nValue;
        else if (key == "tops") {
            Reader reader(rows.GetTextView(1));
            int64_t nTop = 0;
            while (!reader.AtEnd()) {
                nTop = Add(nTop, UnZigZag(reader.Varint()));
                tables.m_tops.push_back(nTop);
            }
        }
    }
    tables.m_bTimes = database.QueryInt64(CatalogSql::kHasFileTimes) > 0;
    if (nChanges != 0 || nTimes != (tables.m_bTimes ? 1 : 0))
        return std::nullopt;
    // Without every trigger, as made, a change could have gone uncounted.
    for (const CatalogSql::NameIndexTrigger& expected : CatalogSql::kTreeTriggers)
        if (!HasTriggerAsMade(database, expected))
            return std::nullopt;
    if (!HasTriggerAsMade(database, tables.m_bTimes
                                        ? CatalogSql::kTreeFilesUpdateTrigger
                                        : CatalogSql::kTreeFilesUpdateTriggerWithoutTimes))
        return std::nullopt;
    if (!HasIdBounds(database, nMinFileId, nMaxFileId, nMinDirId, nMaxDirId))
        return std::nullopt;
    return tables;
}

std::vector<StoredDir> TreeTables::ReadBlock(int64_t nBlock) const {
    std::vector<StoredDir> dirs;
    Statement read = m_pDatabase->Prepare(CatalogSql::kTreeDirsBlock);
    read.BindInt64(1, nBlock);
    if (read.Step())
        DecodeDirs(nBlock, read.Blob(0), [&](const StoredDir& dir) { dirs.push_back(dir); });
    return dirs;
}

std::vector<uint32_t> TreeTables::FileModes(int64_t nDirId) const {
    std::vector<uint32_t> modes;
    Statement read = m_pDatabase->Prepare(CatalogSql::kTreeFileModesBlock);
    read.BindInt64(1, BlockOf(nDirId));
    if (read.Step())
        DecodeFileModes(BlockOf(nDirId), read.Blob(0), [&](int64_t nId, const ModeRuns& runs) {
            if (nId == nDirId)
                for (const auto& [nCount, nMode] : runs)
                    modes.insert(modes.end(), nCount, nMode);
        });
    return modes;
}
