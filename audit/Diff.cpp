// SPDX-License-Identifier: GPL-3.0-or-later

#include "audit/Diff.h"

#include "catalog/CatalogInfo.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/HandOver.h"
#include "catalog/MemberPath.h"
#include "catalog/PathBelowFunction.h"
#include "catalog/ResultSet.h"
#include "scan/Md5.h"
#include "scan/Paths.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

namespace {

// A stretch of one catalog's rows, in the order of their paths below its
// start directory; the texts lie in one buffer.
struct Block {
    struct Entry {
        uint32_t nPath, nPathLength;
        uint32_t nStored, nStoredLength; // the full path as stored (when asked for)
        uint32_t nChecksum, nChecksumLength;
        int64_t nSize;
        bool bHasSize, bHasChecksum, bDirectory, bMember;
    };
    std::string strText;
    std::vector<Entry> entries;

    std::string_view Text(uint32_t nBegin, uint32_t nLength) const {
        return std::string_view(strText).substr(nBegin, nLength);
    }
    uint32_t Append(std::string_view text) {
        const auto nBegin = static_cast<uint32_t>(strText.size());
        strText.append(text);
        return nBegin;
    }
};

constexpr size_t kBlockEntries = 4096;
constexpr size_t kBlockBytes = 1 << 20;
constexpr size_t kBlocksAhead = 4;

// Reads one catalog's directories and files on a thread of its own, in the
// order of their paths below its start directory, and hands them over a few
// blocks at a time, so that the engine's reading of each catalog runs beside
// the comparison and what is held stays small.
class SideReader {
public:
    // bWithNames reads the stored paths too; bWithMembers the members of
    // archives (the catalog holds them).
    SideReader(Database& database, bool bWithNames, bool bWithMembers)
        : m_database(database), m_bWithNames(bWithNames), m_bWithMembers(bWithMembers),
          m_thread([this] { Run(); }) {}
    ~SideReader() {
        m_blocks.GiveUp();
        m_thread.join();
    }
    SideReader(const SideReader&) = delete;
    SideReader& operator=(const SideReader&) = delete;

    // The next block, or null at the end; raises the error the reading met.
    std::unique_ptr<Block> Next() {
        std::unique_ptr<Block> pBlock;
        m_blocks.Take(pBlock);
        return pBlock;
    }

private:
    void Run() {
        try {
            Read();
            m_blocks.End();
        } catch (...) {
            m_blocks.End(std::current_exception());
        }
    }

    void Read() {
        RegisterPathBelowFunction(m_database);
        // Only the start directory is wanted: no pass over every file for totals.
        const std::string strStart = ReadCatalogInfo(m_database, false).strStartDir.value_or("");
        const char* pszSql =
            m_bWithMembers ? (m_bWithNames ? CatalogSql::kEntriesAndMembersWithNamesByPathBelow
                                           : CatalogSql::kEntriesAndMembersByPathBelow)
                           : (m_bWithNames ? CatalogSql::kEntriesWithNamesByPathBelow
                                           : CatalogSql::kEntriesByPathBelow);
        Statement statement = m_database.Prepare(pszSql);
        statement.BindText(1, strStart);
        if (m_bWithMembers)
            statement.BindText(2, kMemberSeparator);
        // The stored directory and name follow the member flag when there is one.
        const int nNames = m_bWithMembers ? 6 : 5;
        std::string strLast;
        bool bHasLast = false;
        auto pBlock = std::make_unique<Block>();
        for (ResultSet rows(std::move(statement)); !rows.IsEOF(); rows.MoveNext()) {
            // The start directory has no path; two rows that come to the same
            // path (a catalog made elsewhere) are one, the first standing.
            if (rows.IsNull(0))
                continue;
            const std::string_view path = rows.GetTextView(0);
            if (bHasLast && path == strLast)
                continue;
            strLast.assign(path);
            bHasLast = true;
            Block::Entry entry{};
            entry.nPathLength = static_cast<uint32_t>(path.size());
            entry.nPath = pBlock->Append(path);
            entry.bDirectory = rows.GetInt64(1) != 0;
            entry.bMember = m_bWithMembers && rows.GetInt64(5) != 0;
            entry.bHasSize = !rows.IsNull(2);
            entry.nSize = entry.bHasSize ? rows.GetInt64(2) : 0;
            entry.bHasChecksum = !rows.IsNull(3);
            if (entry.bHasChecksum) {
                const std::string_view checksum = rows.GetTextView(3);
                entry.nChecksumLength = static_cast<uint32_t>(checksum.size());
                entry.nChecksum = pBlock->Append(checksum);
            }
            if (m_bWithNames) {
                std::string strStored =
                    entry.bDirectory && !entry.bMember
                        ? rows.GetText(nNames)
                        : FilePath(rows.GetTextView(nNames), rows.GetTextView(nNames + 1));
                if (entry.bMember)
                    strStored.append(rows.GetTextView(nNames + 2));
                entry.nStoredLength = static_cast<uint32_t>(strStored.size());
                entry.nStored = pBlock->Append(strStored);
            }
            pBlock->entries.push_back(entry);
            if (pBlock->entries.size() >= kBlockEntries || pBlock->strText.size() >= kBlockBytes) {
                if (!m_blocks.Put(std::move(pBlock)))
                    return;
                pBlock = std::make_unique<Block>();
            }
        }
        if (!pBlock->entries.empty())
            m_blocks.Put(std::move(pBlock));
    }

    Database& m_database;
    const bool m_bWithNames;
    const bool m_bWithMembers;
    HandOver<std::unique_ptr<Block>> m_blocks{kBlocksAhead};
    std::thread m_thread; // last: it starts once everything else is there
};

// The comparison's place in one catalog's rows.
class SideCursor {
public:
    explicit SideCursor(SideReader& reader) : m_reader(reader) { Load(); }

    bool AtEnd() const { return !m_pBlock; }
    std::string_view Path() const { return m_pBlock->Text(Entry().nPath, Entry().nPathLength); }
    bool IsDirectory() const { return Entry().bDirectory; }
    bool IsMember() const { return Entry().bMember; }
    std::optional<int64_t> Size() const {
        return Entry().bHasSize ? std::optional<int64_t>(Entry().nSize) : std::nullopt;
    }
    // The stored checksum as a digest; false when there is none (or no valid one).
    bool Digest(Md5Digest& digest) const {
        return Entry().bHasChecksum &&
               HexToDigest(m_pBlock->Text(Entry().nChecksum, Entry().nChecksumLength), digest);
    }
    // Whether both hold checksums that tell different contents.
    bool OtherChecksum(const SideCursor& other) const {
        if (!Entry().bHasChecksum || !other.Entry().bHasChecksum)
            return false;
        const std::string_view mine = m_pBlock->Text(Entry().nChecksum, Entry().nChecksumLength);
        if (mine == other.m_pBlock->Text(other.Entry().nChecksum, other.Entry().nChecksumLength))
            return false; // the same text: no need to read it
        Md5Digest digest, otherDigest;
        return Digest(digest) && other.Digest(otherDigest) && digest != otherDigest;
    }
    void ChecksumText(std::string& strChecksum) const {
        Md5Digest digest;
        if (Digest(digest))
            strChecksum = DigestToHex(digest);
        else
            strChecksum.clear();
    }
    void FullPath(std::string& strPath) const {
        strPath.assign(m_pBlock->Text(Entry().nStored, Entry().nStoredLength));
    }
    void Next() {
        if (++m_nEntry == m_pBlock->entries.size())
            Load();
    }

private:
    const Block::Entry& Entry() const { return m_pBlock->entries[m_nEntry]; }
    void Load() {
        m_pBlock = m_reader.Next();
        m_nEntry = 0;
    }

    SideReader& m_reader;
    std::unique_ptr<Block> m_pBlock;
    size_t m_nEntry = 0;
};

bool HasMembers(Database& database) {
    return database.HasTable("archives") && database.HasTable("archive_members");
}

} // namespace

MemberSides MemberSidesOf(Database& oldDb, Database& newDb) {
    const int nSides = (HasMembers(oldDb) ? 1 : 0) + (HasMembers(newDb) ? 1 : 0);
    return nSides == 2   ? MemberSides::Both
           : nSides == 1 ? MemberSides::OneOnly
                         : MemberSides::Neither;
}

DiffCounts DiffCatalogs(Database& oldDb, Database& newDb, bool bWithFullPaths,
                        const std::function<void(const DiffLine&)>& fnLine) {
    DiffCounts counts;
    counts.memberSides = MemberSidesOf(oldDb, newDb);
    const bool bMembers = counts.memberSides == MemberSides::Both;
    // Both catalogs are sorted and read at once, each on its own thread.
    SideReader oldReader(oldDb, bWithFullPaths, bMembers),
        newReader(newDb, bWithFullPaths, bMembers);
    SideCursor before(oldReader), after(newReader);

    DiffLine line;
    auto oneSided = [&](const SideCursor& side, bool bOld) {
        line.cStatus = bOld ? 'D' : 'A';
        line.strPath.assign(side.Path());
        line.bDirectory = side.IsDirectory();
        line.bMember = side.IsMember();
        line.nOldSize = line.nNewSize = std::nullopt;
        if (!line.bDirectory)
            (bOld ? line.nOldSize : line.nNewSize) = side.Size();
        if (bWithFullPaths) {
            side.FullPath(bOld ? line.strOldPath : line.strNewPath);
            (bOld ? line.strNewPath : line.strOldPath).clear();
            side.ChecksumText(bOld ? line.strOldChecksum : line.strNewChecksum);
            (bOld ? line.strNewChecksum : line.strOldChecksum).clear();
        }
        if (line.bMember)
            ++(bOld ? counts.nMembersDeleted : counts.nMembersAdded);
        else if (line.bDirectory)
            ++(bOld ? counts.nDirsDeleted : counts.nDirsAdded);
        else
            ++(bOld ? counts.nFilesDeleted : counts.nFilesAdded);
        fnLine(line);
    };
    while (!before.AtEnd() || !after.AtEnd()) {
        const int nOrder = before.AtEnd()  ? 1
                           : after.AtEnd() ? -1
                                           : before.Path().compare(after.Path());
        if (nOrder < 0) {
            oneSided(before, true);
            before.Next();
            continue;
        }
        if (nOrder > 0) {
            oneSided(after, false);
            after.Next();
            continue;
        }
        if (!before.IsDirectory() && !after.IsDirectory()) {
            const bool bModified = before.Size() != after.Size() || before.OtherChecksum(after);
            if (bModified) {
                line.cStatus = 'M';
                line.strPath.assign(after.Path());
                line.bDirectory = false;
                line.bMember = after.IsMember();
                line.nOldSize = before.Size();
                line.nNewSize = after.Size();
                if (bWithFullPaths) {
                    before.FullPath(line.strOldPath);
                    after.FullPath(line.strNewPath);
                    before.ChecksumText(line.strOldChecksum);
                    after.ChecksumText(line.strNewChecksum);
                }
                ++(line.bMember ? counts.nMembersModified : counts.nFilesModified);
                fnLine(line);
            }
        }
        before.Next();
        after.Next();
    }
    return counts;
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
    ContentCounts counts;
    counts.memberSides = MemberSidesOf(oldDb, newDb);
    const bool bMembers = counts.memberSides == MemberSides::Both;
    std::vector<Content> copies;
    for (const char* pszSql :
         {CatalogSql::kFilesWithChecksums, CatalogSql::kMembersWithChecksums}) {
        if (!bMembers && pszSql == CatalogSql::kMembersWithChecksums)
            break;
        Statement statement = newDb.Prepare(pszSql);
        statement.BindInt64(1, 0);
        for (ResultSet rows(std::move(statement)); !rows.IsEOF(); rows.MoveNext()) {
            Content content{rows.GetInt64(1), {}};
            if (HexToDigest(rows.GetTextView(2), content.digest))
                copies.push_back(content);
        }
    }
    std::sort(copies.begin(), copies.end());
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
    if (!bMembers)
        return counts;
    Statement members = oldDb.Prepare(CatalogSql::kAllMembers);
    members.BindText(1, kMemberSeparator);
    for (ResultSet rows(std::move(members)); !rows.IsEOF(); rows.MoveNext()) {
        Content content{rows.IsNull(3) ? -1 : rows.GetInt64(3), {}};
        if (rows.IsNull(4) || !HexToDigest(rows.GetTextView(4), content.digest)) {
            ++counts.nMembersNotComparable;
            continue;
        }
        if (std::binary_search(copies.begin(), copies.end(), content)) {
            ++counts.nMembersCopied;
            continue;
        }
        ++counts.nMembersMissing;
        fnMissing(FilePath(rows.GetTextView(0), rows.GetTextView(1)).append(rows.GetTextView(2)),
                  content.nSize);
    }
    return counts;
}
