// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/NameIndex.h"

#include "catalog/ArchivePaths.h"
#include "catalog/CaseFold.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/LikeMatcher.h"
#include "catalog/Ranges.h"
#include "catalog/ResultSet.h"
#include "catalog/Utf8.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace {

// Rows a posting stands for: 32 consecutive ids. Names in one folder share
// most of their trigrams, so a block costs far less than its rows would.
constexpr int kBlockBits = 5;
// 2: kept honest by the counting triggers.
constexpr int64_t kIndexVersion = 2;
constexpr uint32_t kTrigramSpace = 1u << 24;

void AppendVarint(std::string& strBytes, uint64_t nValue) {
    while (nValue >= 0x80) {
        strBytes += static_cast<char>((nValue & 0x7F) | 0x80);
        nValue >>= 7;
    }
    strBytes += static_cast<char>(nValue);
}

// Reads a varint at nPos; false at the end or on a broken value.
bool ReadVarint(std::string_view bytes, size_t& nPos, uint64_t& nValue) {
    nValue = 0;
    for (int nShift = 0; nPos < bytes.size() && nShift < 64; nShift += 7) {
        const auto b = static_cast<unsigned char>(bytes[nPos++]);
        nValue |= static_cast<uint64_t>(b & 0x7F) << nShift;
        if (b < 0x80)
            return true;
    }
    return false;
}

bool IsAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// The folding of a byte below 0x80: its letter lowered.
unsigned char LowerAscii(char c) {
    return static_cast<unsigned char>(FoldCase(static_cast<unsigned char>(c)));
}

template <typename Fn> void ForEachTrigram(std::string_view folded, Fn fn) {
    for (size_t i = 0; i + 3 <= folded.size(); ++i)
        fn((uint32_t(static_cast<unsigned char>(folded[i])) << 16) |
           (uint32_t(static_cast<unsigned char>(folded[i + 1])) << 8) |
           uint32_t(static_cast<unsigned char>(folded[i + 2])));
}

// Ids may take the whole signed 64-bit range (another program chose them),
// so the gaps between them are taken modulo 2^64: a step down from -1 to a
// negative block, or a step across the whole range, is one gap like any
// other.
uint64_t Gap(int64_t nFrom, int64_t nTo) {
    return static_cast<uint64_t>(nTo) - static_cast<uint64_t>(nFrom);
}

int64_t Step(int64_t nFrom, uint64_t nGap) {
    return static_cast<int64_t>(static_cast<uint64_t>(nFrom) + nGap);
}

std::vector<int64_t> DecodeBlocks(std::string_view bytes) {
    std::vector<int64_t> blocks;
    int64_t nLast = -1;
    size_t nPos = 0;
    uint64_t nDelta = 0;
    while (ReadVarint(bytes, nPos, nDelta)) {
        nLast = Step(nLast, nDelta);
        blocks.push_back(nLast);
    }
    return blocks;
}

// The ids a block stands for. A block number lies within plus or minus
// 2^58, so neither end overflows.
IdRange BlockIds(int64_t nBlock) {
    const int64_t nLow = nBlock * (int64_t(1) << kBlockBits);
    return {nLow, nLow + ((int64_t(1) << kBlockBits) - 1)};
}

} // namespace

std::vector<uint32_t> TrigramsOfRuns(const std::vector<std::vector<uint32_t>>& runs) {
    std::vector<uint32_t> trigrams;
    std::string strFolded;
    for (const std::vector<uint32_t>& run : runs) {
        strFolded.clear();
        for (const uint32_t f : run) // the run holds foldings already
            AppendUtf8(f, strFolded);
        ForEachTrigram(strFolded, [&](uint32_t t) { trigrams.push_back(t); });
    }
    std::sort(trigrams.begin(), trigrams.end());
    trigrams.erase(std::unique(trigrams.begin(), trigrams.end()), trigrams.end());
    return trigrams;
}

// The postings of one kind of text: for each trigram, the blocks holding it,
// as growing deltas. Trigrams find their list through a table of all 2^24
// of them, which the system gives zeroed and untouched until used.
struct NameIndexBuilder::Side {
    // The gap of a trigram's first posting is counted from block -1; no
    // block number (an id shifted right) is kNoBlock.
    static constexpr int64_t kNoBlock = INT64_MIN;
    struct Postings {
        std::string bytes;
    };

    Side() : pSlots(static_cast<uint32_t*>(std::calloc(kTrigramSpace, sizeof(uint32_t)))) {
        if (!pSlots)
            throw std::bad_alloc();
        // The trigrams of three ASCII bytes, most of all, have a table of
        // their own: an eighth of the size, in large pages where the system
        // gives them, so looking up slots far apart rarely misses the
        // processor's address cache.
        void* p = ::mmap(nullptr, kAsciiBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                         -1, 0);
        if (p == MAP_FAILED) {
            std::free(pSlots);
            throw std::bad_alloc();
        }
        ::madvise(p, kAsciiBytes, MADV_HUGEPAGE);
        pAsciiSlots = static_cast<uint32_t*>(p);
        lists.emplace_back(); // slot value 0 means none
        lastBlocks.push_back(kNoBlock);
    }
    ~Side() {
        std::free(pSlots);
        ::munmap(pAsciiSlots, kAsciiBytes);
    }
    Side(const Side&) = delete;
    Side& operator=(const Side&) = delete;

    static constexpr size_t kAsciiBytes = (size_t(1) << 21) * sizeof(uint32_t);
    uint32_t& SlotOf(uint32_t t) {
        if ((t & 0x808080) == 0)
            return pAsciiSlots[((t >> 16) << 14) | (((t >> 8) & 0x7F) << 7) | (t & 0x7F)];
        return pSlots[t];
    }

    // Ids come in growing order, so a trigram's last posting tells whether
    // the block holds it already.
    void Add(int64_t nId, std::string_view text) {
        const int64_t nBlock = nId >> kBlockBits; // rounds down, below 0 too
        if (nRows == 0)
            nMinId = nId;
        const bool bSameBlock = nRows > 0 && nBlock == nLastBlock;
        if (!bSameBlock)
            ++nBlocks;
        nLastBlock = nBlock;
        nMaxId = nId;
        ++nRows;
        auto post = [&](uint32_t t) {
            uint32_t& nSlot = SlotOf(t);
            if (nSlot == 0) {
                nSlot = static_cast<uint32_t>(lists.size());
                lists.emplace_back();
                lastBlocks.push_back(kNoBlock);
                used.push_back(t);
            }
            // Whether the block holds it already is told by a list of last
            // blocks kept apart from the postings, dense enough to stay in
            // the processor's cache.
            int64_t& nLast = lastBlocks[nSlot];
            if (nLast == nBlock)
                return;
            Postings& postings = lists[nSlot];
            AppendVarint(postings.bytes, Gap(nLast == kNoBlock ? -1 : nLast, nBlock));
            nLast = nBlock;
        };
        if (IsAscii(text)) {
            // Most names: folding is lowering letters, byte by byte. The
            // trigrams of what the text shares with the text before it in the
            // same block (a sibling's path, a name's stem) are posted already.
            size_t nFirst = 0;
            if (bSameBlock && bLastAscii) {
                const size_t nShared =
                    std::mismatch(text.begin(),
                                  text.begin() + std::min(text.size(), strLast.size()),
                                  strLast.begin())
                        .first -
                    text.begin();
                nFirst = nShared >= 3 ? nShared - 2 : 0;
            }
            for (size_t i = nFirst; i + 3 <= text.size(); ++i)
                post((uint32_t(LowerAscii(text[i])) << 16) |
                     (uint32_t(LowerAscii(text[i + 1])) << 8) | uint32_t(LowerAscii(text[i + 2])));
            strLast.assign(text);
            bLastAscii = true;
            return;
        }
        bLastAscii = false;
        strFolded.clear();
        AppendFoldedText(text, strFolded);
        ForEachTrigram(strFolded, post);
    }

    void Write(Database& database, const char* pszInsert) {
        std::sort(used.begin(), used.end());
        Statement insert = database.Prepare(pszInsert);
        for (const uint32_t t : used) {
            insert.BindInt64(1, t);
            insert.BindBlob(2, lists[SlotOf(t)].bytes);
            insert.Run();
        }
    }

    uint32_t* pSlots;
    uint32_t* pAsciiSlots;
    std::vector<Postings> lists;
    std::vector<int64_t> lastBlocks; // of each list
    std::vector<uint32_t> used;
    std::string strFolded;
    std::string strLast; // the text added last, when it was all ASCII
    bool bLastAscii = false;
    // What the index records of the rows: their count, the blocks they
    // take, their id ends.
    int64_t nRows = 0;
    int64_t nBlocks = 0;
    int64_t nLastBlock = 0;
    int64_t nMinId = 0;
    int64_t nMaxId = 0;
};

// Which stretches of file ids each directory's files take, in the order the
// files came (growing ids): one stretch for a directory whose files were
// stored together, as a scan stores them.
struct NameIndexBuilder::DirFiles {
    struct Stretch {
        int64_t nDirId;
        IdRange ids;
    };
    std::vector<Stretch> stretches;
};

NameIndexBuilder::NameIndexBuilder()
    : m_files(std::make_unique<Side>()), m_dirs(std::make_unique<Side>()),
      m_dirFiles(std::make_unique<DirFiles>()) {}

NameIndexBuilder::~NameIndexBuilder() = default;

void NameIndexBuilder::AddFile(int64_t nFileId, int64_t nDirId, std::string_view name) {
    m_files->Add(nFileId, name);
    // Ids grow, so a directory's stretch can only go on in the last one.
    auto& stretches = m_dirFiles->stretches;
    if (!stretches.empty() && stretches.back().nDirId == nDirId &&
        stretches.back().ids.nHigh + 1 == nFileId)
        stretches.back().ids.nHigh = nFileId;
    else
        stretches.push_back({nDirId, {nFileId, nFileId}});
}

void NameIndexBuilder::AddDirectory(int64_t nDirId, std::string_view path) {
    m_dirs->Add(nDirId, path);
}

void NameIndexBuilder::AddMembersOf(Database& database) {
    if (!database.HasTable("archive_members") || !database.HasTable("archives"))
        return;
    m_members = std::make_unique<Side>();
    m_memberDirs = std::make_unique<Side>();
    ArchivePaths archives(database);
    std::string strFolder;
    int64_t nLastId = 0;
    for (ResultSet rows(database.Prepare(CatalogSql::kMembersForIndex)); !rows.IsEOF();
         rows.MoveNext()) {
        const int64_t nId = rows.GetInt64(0);
        if (m_members->nRows > 0 && nId <= nLastId)
            throw EngineError("The ids of the table archive_members are not distinct whole "
                              "numbers: it cannot be indexed.");
        nLastId = nId;
        m_members->Add(nId, rows.IsNull(3) ? std::string_view() : rows.GetTextView(3));
        // A member of no known archive has no folder a search could match.
        const std::string* pArchive = archives.PathOf(rows.GetInt64(1));
        strFolder.clear();
        if (pArchive)
            AssignMemberFolder(*pArchive, rows.IsNull(2) ? std::string_view() : rows.GetTextView(2),
                               strFolder);
        m_memberDirs->Add(nId, strFolder);
    }
}

void NameIndexBuilder::Write(Database& database) {
    database.Execute(CatalogSql::kCreateNameIndex);
    m_files->Write(database, CatalogSql::kInsertFilePostings);
    m_dirs->Write(database, CatalogSql::kInsertDirPostings);
    if (m_members) {
        database.Execute(CatalogSql::kCreateMemberIndex);
        m_members->Write(database, CatalogSql::kInsertMemberPostings);
        m_memberDirs->Write(database, CatalogSql::kInsertMemberDirPostings);
    }
    // By directory; each directory's stretches stay in id order.
    auto& stretches = m_dirFiles->stretches;
    std::stable_sort(stretches.begin(), stretches.end(),
                     [](const auto& a, const auto& b) { return a.nDirId < b.nDirId; });
    Statement insert = database.Prepare(CatalogSql::kInsertDirFiles);
    std::string strBytes;
    for (size_t i = 0; i < stretches.size();) {
        const int64_t nDirId = stretches[i].nDirId;
        strBytes.clear();
        int64_t nEnd = 0;
        for (; i < stretches.size() && stretches[i].nDirId == nDirId; ++i) {
            const IdRange& range = stretches[i].ids;
            AppendVarint(strBytes, Gap(nEnd, range.nLow));
            AppendVarint(strBytes, Gap(range.nLow, range.nHigh));
            nEnd = range.nHigh;
        }
        insert.BindInt64(1, nDirId);
        insert.BindBlob(2, strBytes);
        insert.Run();
    }
    Statement meta = database.Prepare(CatalogSql::kInsertIndexMeta);
    const std::pair<const char*, int64_t> values[] = {{"version", kIndexVersion},
                                                      {"block_bits", kBlockBits},
                                                      {"changes", 0},
                                                      {"files", m_files->nRows},
                                                      {"file_blocks", m_files->nBlocks},
                                                      {"min_file_id", m_files->nMinId},
                                                      {"max_file_id", m_files->nMaxId},
                                                      {"dirs", m_dirs->nRows},
                                                      {"dir_blocks", m_dirs->nBlocks},
                                                      {"min_dir_id", m_dirs->nMinId},
                                                      {"max_dir_id", m_dirs->nMaxId}};
    for (const auto& [pszKey, nValue] : values) {
        meta.BindText(1, pszKey);
        meta.BindInt64(2, nValue);
        meta.Run();
    }
    if (m_members) {
        const std::pair<const char*, int64_t> memberValues[] = {
            {"members", m_members->nRows},
            {"member_blocks", m_members->nBlocks},
            {"member_dir_blocks", m_memberDirs->nBlocks},
            {"min_member_id", m_members->nMinId},
            {"max_member_id", m_members->nMaxId}};
        for (const auto& [pszKey, nValue] : memberValues) {
            meta.BindText(1, pszKey);
            meta.BindInt64(2, nValue);
            meta.Run();
        }
    }
    // Last, once the rows are all in: from here on every change to them counts.
    for (const CatalogSql::NameIndexTrigger& trigger : CatalogSql::kNameIndexTriggers)
        database.Execute(trigger.pszSql);
    if (m_members)
        for (const CatalogSql::NameIndexTrigger& trigger : CatalogSql::kMemberIndexTriggers)
            database.Execute(trigger.pszSql);
}

namespace {

// Rows are indexed by their ids, in growing order: a catalog of another
// program whose ids are missing or repeat cannot be.
class IdOrder {
public:
    explicit IdOrder(const char* pszTable) : m_pszTable(pszTable) {}
    int64_t Next(const ResultSet& rows) {
        const int64_t nId = rows.GetInt64(0);
        if (rows.IsNull(0) || (m_bAny && nId <= m_nLast))
            throw EngineError(std::string("The ids of the table ") + m_pszTable +
                              " are not distinct whole numbers: it cannot be indexed.");
        m_bAny = true;
        m_nLast = nId;
        return nId;
    }

private:
    const char* m_pszTable;
    bool m_bAny = false;
    int64_t m_nLast = 0;
};

} // namespace

void RebuildNameIndex(Database& database) {
    NameIndexBuilder builder;
    IdOrder dirIds("dirs");
    for (ResultSet rows(database.Prepare(CatalogSql::kDirsForIndex)); !rows.IsEOF();
         rows.MoveNext())
        builder.AddDirectory(dirIds.Next(rows), rows.GetTextView(1));
    IdOrder fileIds("files");
    for (ResultSet rows(database.Prepare(CatalogSql::kFilesForIndex)); !rows.IsEOF();
         rows.MoveNext())
        builder.AddFile(fileIds.Next(rows), rows.GetInt64(1), rows.GetTextView(2));
    builder.AddMembersOf(database);
    builder.Write(database);
}

std::optional<NameIndex> NameIndex::Open(Database& database) {
    if (!database.HasTable("name_index_meta"))
        return std::nullopt;
    NameIndex index(database);
    int64_t nVersion = 0, nBlockBits = 0;
    std::optional<int64_t> nChanges;
    int64_t nMinFileId = 0, nMaxFileId = 0, nMinDirId = 0, nMaxDirId = 0;
    bool bMembers = false;
    int64_t nMinMemberId = 0, nMaxMemberId = 0;
    for (ResultSet rows(database.Prepare(CatalogSql::kReadIndexMeta)); !rows.IsEOF();
         rows.MoveNext()) {
        const std::string_view key = rows.GetTextView(0);
        const int64_t nValue = rows.GetInt64(1);
        if (key == "version")
            nVersion = nValue;
        else if (key == "block_bits")
            nBlockBits = nValue;
        else if (key == "changes" && rows.GetTextView(1) == "0")
            nChanges = 0; // a value set by hand (negative, a fraction) is never trusted
        else if (key == "files")
            index.m_nFiles = nValue;
        else if (key == "file_blocks")
            index.m_nFileBlocks = nValue;
        else if (key == "dir_blocks")
            index.m_nDirBlocks = nValue;
        else if (key == "min_file_id")
            nMinFileId = nValue;
        else if (key == "max_file_id")
            nMaxFileId = nValue;
        else if (key == "min_dir_id")
            nMinDirId = nValue;
        else if (key == "max_dir_id")
            nMaxDirId = nValue;
        else if (key == "members")
            bMembers = true;
        else if (key == "member_blocks")
            index.m_nMemberBlocks = nValue;
        else if (key == "member_dir_blocks")
            index.m_nMemberDirBlocks = nValue;
        else if (key == "min_member_id")
            nMinMemberId = nValue;
        else if (key == "max_member_id")
            nMaxMemberId = nValue;
    }
    if (nVersion != kIndexVersion || nBlockBits != kBlockBits || nChanges != 0)
        return std::nullopt;
    // Without every trigger, as made, a change could have gone uncounted.
    for (const CatalogSql::NameIndexTrigger& expected : CatalogSql::kNameIndexTriggers)
        if (!HasTriggerAsMade(database, expected))
            return std::nullopt;
    if (!HasIdBounds(database, nMinFileId, nMaxFileId, nMinDirId, nMaxDirId))
        return std::nullopt;
    // The members are searched through the index only when it was made
    // with them and every change to them since would have been counted.
    if (bMembers && database.HasTable("archive_members") && database.HasTable("archives")) {
        index.m_bMembers = database.QueryInt64(CatalogSql::kMinMemberId) == nMinMemberId &&
                           database.QueryInt64(CatalogSql::kMaxMemberId) == nMaxMemberId;
        for (const CatalogSql::NameIndexTrigger& expected : CatalogSql::kMemberIndexTriggers)
            index.m_bMembers = index.m_bMembers && HasTriggerAsMade(database, expected);
    }
    return index;
}

bool HasTriggerAsMade(Database& database, const CatalogSql::NameIndexTrigger& trigger) {
    Statement has = database.Prepare(CatalogSql::kHasTrigger);
    has.BindText(1, trigger.pszName);
    has.BindText(2, trigger.pszTable);
    has.BindText(3, trigger.pszSql);
    return has.Step() && has.Int64(0) == 1;
}

bool HasIdBounds(Database& database, int64_t nMinFileId, int64_t nMaxFileId, int64_t nMinDirId,
                 int64_t nMaxDirId) {
    return database.QueryInt64(CatalogSql::kMinFileId) == nMinFileId &&
           database.QueryInt64(CatalogSql::kMaxFileId) == nMaxFileId &&
           database.QueryInt64(CatalogSql::kMinDirId) == nMinDirId &&
           database.QueryInt64(CatalogSql::kMaxDirId) == nMaxDirId;
}

std::optional<std::vector<IdRange>> NameIndex::Candidates(const char* pszSql,
                                                          const std::vector<uint32_t>& trigrams,
                                                          int64_t nBlocks) const {
    if (trigrams.empty())
        return std::nullopt;
    Statement lookup = m_pDatabase->Prepare(pszSql);
    std::vector<std::string> lists;
    for (const uint32_t t : trigrams) {
        lookup.BindInt64(1, t);
        if (!lookup.Step())
            return std::vector<IdRange>(); // no text holds it: no candidate at all
        lists.emplace_back(lookup.Blob(0));
        lookup.Reset();
    }
    // The shortest list first: the others only thin it out.
    std::sort(lists.begin(), lists.end(),
              [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    std::vector<int64_t> blocks = DecodeBlocks(lists[0]);
    // Past a quarter of all rows, reading them all is as quick.
    const size_t nTooMany = static_cast<size_t>(std::max<int64_t>(nBlocks, 0) / 4 + 1);
    for (size_t i = 1; i < lists.size() && !blocks.empty(); ++i) {
        std::vector<int64_t> kept;
        size_t nPos = 0;
        int64_t nBlock = -1;
        uint64_t nDelta = 0;
        auto it = blocks.begin();
        while (it != blocks.end() && ReadVarint(lists[i], nPos, nDelta)) {
            nBlock = Step(nBlock, nDelta);
            while (it != blocks.end() && *it < nBlock)
                ++it;
            if (it != blocks.end() && *it == nBlock)
                kept.push_back(*it++);
        }
        blocks.swap(kept);
    }
    if (blocks.size() > nTooMany)
        return std::nullopt;
    std::vector<IdRange> ranges;
    for (const int64_t nBlock : blocks) {
        const IdRange range = BlockIds(nBlock);
        if (!ranges.empty() && ranges.back().nHigh == range.nLow - 1)
            ranges.back().nHigh = range.nHigh;
        else
            ranges.push_back(range);
    }
    return ranges;
}

std::optional<std::vector<IdRange>>
NameIndex::FileCandidates(const std::vector<uint32_t>& trigrams) const {
    return Candidates(CatalogSql::kFilePostings, trigrams, m_nFileBlocks);
}

std::optional<std::vector<IdRange>>
NameIndex::DirCandidates(const std::vector<uint32_t>& trigrams) const {
    return Candidates(CatalogSql::kDirPostings, trigrams, m_nDirBlocks);
}

std::optional<std::vector<IdRange>>
NameIndex::MemberCandidates(const std::vector<uint32_t>& trigrams) const {
    if (!m_bMembers)
        return std::nullopt;
    return Candidates(CatalogSql::kMemberPostings, trigrams, m_nMemberBlocks);
}

std::optional<std::vector<IdRange>>
NameIndex::MemberDirCandidates(const std::vector<uint32_t>& trigrams) const {
    if (!m_bMembers)
        return std::nullopt;
    return Candidates(CatalogSql::kMemberDirPostings, trigrams, m_nMemberDirBlocks);
}

size_t NameIndex::MostStretches() const {
    // A stretch costs a lookup, as much as reading several rows does; one
    // for every 64 rows keeps that cost, and the memory of the stretches, small.
    return static_cast<size_t>(std::max<int64_t>(m_nFiles, 0) / 64) + 32;
}

bool NameIndex::CoversTooManyFiles(const std::vector<IdRange>& files) const {
    if (files.size() > MostStretches())
        return true;
    // Ids need not be dense: a stretch may cover more ids than rows, and
    // its length may not fit a signed number.
    double dCovered = 0;
    for (const IdRange& range : files)
        dCovered += static_cast<double>(Gap(range.nLow, range.nHigh)) + 1;
    return dCovered > static_cast<double>(m_nFiles / 4 + (int64_t(1) << kBlockBits));
}

std::vector<IdRange> NameIndex::FilesOfDirs(const std::vector<IdRange>& dirs) const {
    std::vector<IdRange> files;
    Statement lookup = m_pDatabase->Prepare(CatalogSql::kDirFilesBetween);
    for (const IdRange& dirRange : dirs) {
        lookup.BindInt64(1, dirRange.nLow);
        lookup.BindInt64(2, dirRange.nHigh);
        while (lookup.Step()) {
            const std::string_view bytes = lookup.Blob(0);
            size_t nPos = 0;
            int64_t nEnd = 0;
            uint64_t nGap = 0, nLength = 0;
            while (ReadVarint(bytes, nPos, nGap) && ReadVarint(bytes, nPos, nLength)) {
                const int64_t nLow = Step(nEnd, nGap);
                nEnd = Step(nLow, nLength);
                files.push_back({nLow, nEnd});
            }
        }
        lookup.Reset();
    }
    return MergeRanges(std::move(files));
}
