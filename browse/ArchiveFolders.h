// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "browse/CatalogTree.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class Database;

// The path of an entry named name in the folder at folderPath, inside an
// archive or not: "/b" and "x" give "/b/x", "/b/x.zip//" and "a" give
// "/b/x.zip//a", "/b/x.zip//a" and "c" give "/b/x.zip//a/c".
std::string EntryPath(std::string_view folderPath, std::string_view name);

// True when the path reaches inside an archive ("/b/x.zip//a").
bool IsInsideArchive(std::string_view path);

// The archives of a catalog that stores their members, as folders: an
// archive's top folder holds its members, the folders inside it (listed by
// the archive or only implied by its members' paths) are folders below, and
// an archive inside it opens as a folder again. Each such folder has a
// negative id of its own (a catalog with member tables is Kestrel's, whose
// directory ids are positive), the same for as long as the object lives,
// and a path as members' paths read: "/b/x.zip//" for the top of an archive,
// "/b/x.zip//photos" below it. An archive's members are read the first time
// one of its folders is asked for, never those of the whole catalog. What it
// gives stays valid as long as it; one thread at a time.
class ArchiveFolders {
public:
    // Nothing when the catalog holds no member tables. Raises EngineError.
    static std::unique_ptr<ArchiveFolders> Open(Database& database);
    explicit ArchiveFolders(Database& database) : m_database(database) {}

    // Whether an id is one of an archive's folder, and that folder (its
    // archive's members read then); null for an id not given out.
    static bool IsArchiveFolder(int64_t nId) { return nId < 0; }
    const TreeDir* DirById(int64_t nId);
    // The folders right below an archive's folder, by id; empty for others.
    std::vector<const TreeDir*> Subdirectories(int64_t nId);
    // The members of an archive's folder that are not folders, in the
    // archive's order, each archive among them with the id of the folder it
    // opens as (nFolderId).
    std::vector<TreeFile> Files(int64_t nId);

    // Gives each file of the directory dir (its files, from the catalog's
    // rows) that is an archive with stored members the id of the folder it
    // opens as. Raises EngineError.
    void MarkArchives(const TreeDir& dir, std::vector<TreeFile>& files);
    // Whether some file right in directory nDirId is such an archive; the
    // folders holding any are read once, from the archives alone.
    bool HoldsArchives(int64_t nDirId);
    // The folder of a path inside an archive: the archive file's path, "//"
    // and a path in it, level after level; fnFindDir finds the directory of
    // the outermost archive file. A path whose last level names an archive
    // is that archive's top ("/b/x.zip//in.tar" as "/b/x.zip//in.tar//"), and
    // so is one without "//" naming an archive file. Null when there is none.
    const TreeDir* DirByPath(std::string_view path,
                             const std::function<const TreeDir*(std::string_view)>& fnFindDir,
                             const std::function<std::vector<TreeFile>(int64_t)>& fnFiles);

private:
    struct Member {
        int64_t nId = 0;
        std::string strName;
        std::optional<int64_t> nSize, nMtimeNs;
        std::optional<uint32_t> nMode;
        std::optional<std::string> checksum;
    };
    struct Folder {
        TreeDir dir;
        int64_t nArchiveId = 0;
        std::vector<int64_t> children; // in the order first met
        std::vector<size_t> members;   // into its archive's members
        bool bHoldsArchives = false;
    };
    struct Archive {
        int64_t nTopId = 0;
        int64_t nFileId = 0; // the outermost archive file's row
        std::string strPath; // the archive's own path: "/b/x.zip", "/b/x.zip//in.tar"
        int64_t nParentId = 0;
        bool bRead = false;
        std::vector<Member> members;
        std::unordered_map<std::string, int64_t> folders; // inner path -> folder id
        std::unordered_map<int64_t, int64_t> nested;      // member id -> archive id
    };

    // The id of the top folder of an archive, given out once for each.
    int64_t TopOf(int64_t nArchiveId, int64_t nFileId, std::string strPath, int64_t nParentId);
    void Read(Archive& archive);
    int64_t FolderOf(Archive& archive, const std::string& strInner);
    // The nested archive a member's path names in an archive's folders; 0 when none.
    int64_t ArchiveAt(Archive& archive, std::string_view inner);

    Database& m_database;
    int64_t m_nNextId = -1;
    std::unordered_map<int64_t, Archive> m_archives;      // by archive id
    std::unordered_map<int64_t, int64_t> m_archiveOfTop;  // top folder id -> archive id
    std::unordered_map<int64_t, Folder> m_folders;        // by folder id
    std::optional<std::unordered_set<int64_t>> m_holding; // directories holding archives
};
