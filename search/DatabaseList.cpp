// SPDX-License-Identifier: GPL-3.0-or-later

#include "search/DatabaseList.h"

#include "catalog/Catalog.h"
#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "catalog/PathExists.h"
#include "catalog/ResultSet.h"
#include "search/FileReplacement.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sqlite3.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool HasCatalogExtension(std::string_view name) {
    return name.size() > 4 && ::strncasecmp(name.data() + name.size() - 4, ".mdb", 4) == 0;
}

// The names of the data folder's catalog files, in the folder's order.
std::vector<std::string> CatalogFileNames(const std::string& strAppPath) {
    std::vector<std::string> names;
    DIR* pDir = ::opendir(strAppPath.c_str());
    if (!pDir)
        return names;
    while (const dirent* pEntry = ::readdir(pDir)) {
        const std::string_view name(pEntry->d_name);
        if (!HasCatalogExtension(name))
            continue;
        // Only regular files (or links to them): a FIFO or device named like
        // a catalog would block whoever opens it.
        struct stat st {};
        if (::fstatat(::dirfd(pDir), pEntry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode))
            names.emplace_back(name);
    }
    ::closedir(pDir);
    return names;
}

// 0, or the errno of the failure (ENOENT: there is no such file).
int ReadWholeFile(const std::string& strPath, std::string& strContent) {
    FILE* pFile = std::fopen(strPath.c_str(), "rb");
    if (!pFile)
        return errno;
    char buffer[65536];
    size_t nRead;
    while ((nRead = std::fread(buffer, 1, sizeof buffer, pFile)) > 0)
        strContent.append(buffer, nRead);
    const int nError = std::ferror(pFile) ? EIO : 0;
    std::fclose(pFile);
    return nError;
}

// The lines of the list file without their endings; blank lines dropped.
// nError is set as by ReadWholeFile.
std::vector<std::string> ReadListFile(const std::string& strListPath, int& nError) {
    std::vector<std::string> lines;
    std::string strContent;
    nError = ReadWholeFile(strListPath, strContent);
    size_t nPos = 0;
    while (nPos < strContent.size()) {
        size_t nEnd = strContent.find('\n', nPos);
        if (nEnd == std::string::npos)
            nEnd = strContent.size();
        std::string strLine = strContent.substr(nPos, nEnd - nPos);
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        if (!strLine.empty())
            lines.push_back(std::move(strLine));
        nPos = nEnd + 1;
    }
    return lines;
}

// Holds the data folder's lock, so that programs changing the list file at
// the same time take turns and none loses another's line.
class ListLock {
public:
    explicit ListLock(const std::string& strAppPath)
        : m_fd(::open(strAppPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (m_fd >= 0)
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~ListLock() {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

private:
    int m_fd;
};

// Whether strPath, read through its links, is the very file one of the
// entries names (the same device and inode): the data folder's own catalog
// by its full path, a path with "..", a symbolic or hard link. Names equal
// as texts count too, so an entry whose file is gone still holds its place.
bool ListedAlready(const std::string& strAppPath, const std::string& strPath,
                   const std::vector<std::string>& entries) {
    struct stat file {};
    const bool bFile = ::stat(strPath.c_str(), &file) == 0;
    for (const std::string& strEntry : entries) {
        if (strEntry == strPath)
            return true;
        struct stat listed {};
        if (bFile && ::stat(CatalogPathOfEntry(strAppPath, strEntry).c_str(), &listed) == 0 &&
            listed.st_dev == file.st_dev && listed.st_ino == file.st_ino)
            return true;
    }
    return false;
}

// The text of the list without strEntry's lines, read under the caller's
// lock. nError is set as by ReadWholeFile (ENOENT: there is no list file);
// the text means nothing then.
std::string ListWithout(const std::string& strListPath, const std::string& strEntry, int& nError) {
    std::string strKept;
    for (const std::string& strLine : ReadListFile(strListPath, nError))
        if (strLine != strEntry)
            strKept += strLine + "\n";
    return strKept;
}

// Why writing the new list or putting it in place failed.
std::string ListProblem(const std::string& strListPath, const FileReplacement& replacement) {
    return "Cannot write " + strListPath + ": " + std::strerror(replacement.Error());
}

} // namespace

bool IsFullPathEntry(std::string_view entry) {
    return !entry.empty() && entry[0] == '/';
}

std::string CatalogPathOfEntry(const std::string& strAppPath, const std::string& strEntry) {
    if (IsFullPathEntry(strEntry))
        return strEntry;
    const std::string strPath = strAppPath + strEntry + ".mdb";
    if (PathExists(strPath, true))
        return strPath;
    // The name came from a file such as Music.MDB: find that file.
    for (const std::string& strName : CatalogFileNames(strAppPath))
        if (strName.size() == strEntry.size() + 4 &&
            strName.compare(0, strEntry.size(), strEntry) == 0)
            return strAppPath + strName;
    return strPath;
}

std::string CatalogPathOfKnownEntry(const std::string& strAppPath, const std::string& strEntry) {
    const std::string strPath = CatalogPathOfEntry(strAppPath, strEntry);
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0) {
        const std::vector<std::string> entries = LoadDatabaseList(strAppPath);
        if (std::find(entries.begin(), entries.end(), strEntry) == entries.end())
            throw EngineError("'" + strEntry + "' is not in the catalog list", SQLITE_CANTOPEN);
    }
    return strPath;
}

std::vector<std::string> LoadDatabaseList(const std::string& strAppPath) {
    std::vector<std::string> entries;
    for (const std::string& strName : CatalogFileNames(strAppPath))
        entries.push_back(strName.substr(0, strName.size() - 4));
    int nError = 0;
    for (std::string& strLine : ReadListFile(strAppPath + kListFileName, nError))
        entries.push_back(std::move(strLine));
    return entries;
}

AddResult AddDatabase(const std::string& strAppPath, const std::string& strPath,
                      const std::vector<std::string>& entries) {
    {
        Database database;
        database.Open(strPath, Database::OpenMode::ReadOnly);
        // Reading the schema is what fails for a file that is no database.
        if (!database.HasTable("dirs"))
            return AddResult::NotValid;
    }
    if (ListedAlready(strAppPath, strPath, entries))
        return AddResult::AlreadyListed;
    if (strPath.find_first_of("\r\n") != std::string::npos)
        return AddResult::HasLineBreak;

    const std::string strListPath = strAppPath + kListFileName;
    ListLock lock(strAppPath);
    // Asked again under the lock: another program may have listed the same
    // file, under another name, since the caller read the list.
    if (ListedAlready(strAppPath, strPath, LoadDatabaseList(strAppPath)))
        return AddResult::AlreadyListed;
    std::string strContent;
    if (const int nError = ReadWholeFile(strListPath, strContent); nError != 0 && nError != ENOENT)
        return AddResult::ListNotWritten;
    // A hand-edited last line without its newline must not merge with ours.
    if (!strContent.empty() && strContent.back() != '\n')
        strContent += '\n';
    strContent += strPath + "\n";
    // On the disk before it replaces the list: a crash must not leave an empty list.
    return ReplaceFileWhole(strListPath, strContent, true) == 0 ? AddResult::Added
                                                                : AddResult::ListNotWritten;
}

std::string DeleteQuestion(const std::string& strEntry) {
    return "Delete database '" + strEntry + "'? Its file will be removed from disk.";
}

std::string DeleteDatabase(const std::string& strAppPath, const std::string& strEntry,
                           const CatalogLock::Wait& wait) {
    const std::string strCatalog = CatalogPathOfEntry(strAppPath, strEntry);
    // A delete during a build or update would be undone by its end.
    // A catalog whose folder is gone (its disk unplugged) has no writer to
    // wait for, and its entry can still leave the list.
    std::optional<CatalogLock> writerLock;
    const size_t nSlash = strCatalog.rfind('/');
    struct stat stFolder {};
    if (nSlash == std::string::npos ||
        ::stat(strCatalog.substr(0, nSlash + 1).c_str(), &stFolder) == 0) {
        try {
            writerLock.emplace(strCatalog, wait);
        } catch (const EngineError& error) {
            return error.what();
        }
        writerLock->RemoveLeftovers();
    }
    if (!IsFullPathEntry(strEntry))
        return RemoveCatalog(strCatalog);
    const std::string strListPath = strAppPath + kListFileName;
    ListLock lock(strAppPath);
    int nError = 0;
    const std::string strKept = ListWithout(strListPath, strEntry, nError);
    if (nError == ENOENT)
        return RemoveCatalog(strCatalog); // no list file: no line to remove
    if (nError != 0)
        return "Cannot read " + strListPath + ": " + std::strerror(nError);
    // The new list is written first: when it cannot be, nothing is deleted.
    FileReplacement replacement(strListPath, strKept, true);
    if (!replacement.IsWritten())
        return ListProblem(strListPath, replacement);
    if (std::string strProblem = RemoveCatalog(strCatalog); !strProblem.empty())
        return strProblem;
    if (!replacement.Commit())
        return "The catalog was deleted, but the list could not be updated. " +
               ListProblem(strListPath, replacement);
    return {};
}

std::string RemoveFromList(const std::string& strAppPath, const std::string& strEntry) {
    if (!IsFullPathEntry(strEntry))
        return "'" + strEntry + "' is a catalog of the data folder, not an entry of the list";
    const std::string strListPath = strAppPath + kListFileName;
    ListLock lock(strAppPath);
    int nError = 0;
    const std::string strKept = ListWithout(strListPath, strEntry, nError);
    if (nError == ENOENT)
        return {};
    if (nError != 0)
        return "Cannot read " + strListPath + ": " + std::strerror(nError);
    FileReplacement replacement(strListPath, strKept, true);
    if (!replacement.IsWritten() || !replacement.Commit())
        return ListProblem(strListPath, replacement);
    return {};
}
