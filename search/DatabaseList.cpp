#include "search/DatabaseList.h"

#include "catalog/CatalogSql.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool HasCatalogExtension(std::string_view name) {
    return name.size() > 4 && ::strncasecmp(name.data() + name.size() - 4, ".mdb", 4) == 0;
}

bool Exists(const std::string& strPath) {
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0;
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
        struct stat st {};
        if (::fstatat(::dirfd(pDir), pEntry->d_name, &st, 0) == 0 && !S_ISDIR(st.st_mode))
            names.emplace_back(name);
    }
    ::closedir(pDir);
    return names;
}

bool ReadWholeFile(const std::string& strPath, std::string& strContent) {
    FILE* pFile = std::fopen(strPath.c_str(), "rb");
    if (!pFile)
        return false;
    char buffer[65536];
    size_t nRead;
    while ((nRead = std::fread(buffer, 1, sizeof buffer, pFile)) > 0)
        strContent.append(buffer, nRead);
    const bool bOk = !std::ferror(pFile);
    std::fclose(pFile);
    return bOk;
}

// The lines of the list file without their endings; blank lines dropped.
std::vector<std::string> ReadListFile(const std::string& strListPath, bool& bRead) {
    std::vector<std::string> lines;
    std::string strContent;
    bRead = ReadWholeFile(strListPath, strContent);
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

bool WriteAll(int fd, const std::string& strText) {
    size_t nDone = 0;
    while (nDone < strText.size()) {
        const ssize_t n = ::write(fd, strText.data() + nDone, strText.size() - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        nDone += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool IsFullPathEntry(std::string_view entry) {
    return !entry.empty() && entry[0] == '/';
}

std::string CatalogPathOfEntry(const std::string& strAppPath, const std::string& strEntry) {
    if (IsFullPathEntry(strEntry))
        return strEntry;
    const std::string strPath = strAppPath + strEntry + ".mdb";
    if (Exists(strPath))
        return strPath;
    // The name came from a file such as Music.MDB: find that file.
    for (const std::string& strName : CatalogFileNames(strAppPath))
        if (strName.size() == strEntry.size() + 4 &&
            strName.compare(0, strEntry.size(), strEntry) == 0)
            return strAppPath + strName;
    return strPath;
}

std::vector<std::string> LoadDatabaseList(const std::string& strAppPath) {
    std::vector<std::string> entries;
    for (const std::string& strName : CatalogFileNames(strAppPath))
        entries.push_back(strName.substr(0, strName.size() - 4));
    bool bRead = false;
    for (std::string& strLine : ReadListFile(strAppPath + kListFileName, bRead))
        entries.push_back(std::move(strLine));
    return entries;
}

AddResult AddDatabase(const std::string& strAppPath, const std::string& strPath,
                      const std::vector<std::string>& entries) {
    {
        Database database;
        database.Open(strPath, Database::OpenMode::ReadOnly);
        // Reading the schema is what fails for a file that is no database.
        ResultSet rows(database.Prepare(CatalogSql::kHasDirsTable));
        if (rows.GetInt64(0) == 0)
            return AddResult::NotValid;
    }
    for (const std::string& strEntry : entries)
        if (strEntry == strPath)
            return AddResult::AlreadyListed;
    if (strPath.find_first_of("\r\n") != std::string::npos)
        return AddResult::HasLineBreak;

    const std::string strListPath = strAppPath + kListFileName;
    const int fd = ::open(strListPath.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return AddResult::ListNotWritten;
    // A hand-edited last line without its newline must not merge with ours.
    std::string strText;
    char cLast = '\n';
    const off_t nSize = ::lseek(fd, 0, SEEK_END);
    if (nSize > 0 && ::pread(fd, &cLast, 1, nSize - 1) == 1 && cLast != '\n')
        strText += '\n';
    strText += strPath + "\n";
    const bool bWritten = WriteAll(fd, strText);
    ::close(fd);
    return bWritten ? AddResult::Added : AddResult::ListNotWritten;
}

std::string DeleteQuestion(const std::string& strEntry) {
    return "Delete database '" + strEntry + "'? Its file will be removed from disk.";
}

void DeleteDatabase(const std::string& strAppPath, const std::string& strEntry) {
    ::unlink(CatalogPathOfEntry(strAppPath, strEntry).c_str());
    if (!IsFullPathEntry(strEntry))
        return;
    const std::string strListPath = strAppPath + kListFileName;
    bool bRead = false;
    const std::vector<std::string> lines = ReadListFile(strListPath, bRead);
    if (!bRead)
        return;
    std::string strKept;
    for (const std::string& strLine : lines)
        if (strLine != strEntry)
            strKept += strLine + "\n";
    std::string strTemp = strListPath + ".XXXXXX";
    const int fd = ::mkstemp(strTemp.data());
    if (fd < 0)
        return;
    const bool bOk = WriteAll(fd, strKept) && ::fsync(fd) == 0;
    ::fchmod(fd, 0644);
    ::close(fd);
    if (!bOk || ::rename(strTemp.c_str(), strListPath.c_str()) != 0)
        ::unlink(strTemp.c_str());
}
