// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/CatalogLock.h"

#include "catalog/Catalog.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Links followed at most, as the kernel does, so a loop ends.
constexpr int kMaxLinks = 40;

std::string FolderOf(const std::string& strPath) {
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash + 1);
}

std::string NameOf(const std::string& strPath) {
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

// A file name beside the catalog: "." + its name + strSuffix, or, when that
// (with the longest companion a writer adds, "-journal") would not fit in a
// file name, one made of a hash of the name, so every catalog name that fits
// can be locked and rebuilt.
std::string SideName(const std::string& strCatalogPath, const char* pszSuffix) {
    const std::string strFolder = FolderOf(strCatalogPath);
    const std::string strName = NameOf(strCatalogPath);
    long nNameMax = ::pathconf(strFolder.empty() ? "." : strFolder.c_str(), _PC_NAME_MAX);
    if (nNameMax <= 0)
        nNameMax = NAME_MAX;
    std::string strSide = "." + strName + pszSuffix;
    if (strSide.size() + std::strlen("-journal") <= static_cast<size_t>(nNameMax))
        return strFolder + strSide;
    uint64_t nHash = 14695981039346656037ull; // FNV-1a
    for (const unsigned char c : strName)
        nHash = (nHash ^ c) * 1099511628211ull;
    char szHash[17];
    std::snprintf(szHash, sizeof szHash, "%016llx", static_cast<unsigned long long>(nHash));
    return strFolder + ".kestrel-" + szHash + pszSuffix;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

std::string ResolveCatalogLink(const std::string& strPath) {
    std::string strResolved = strPath;
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat st {};
        if (::lstat(strResolved.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return strResolved;
        std::string strTarget(PATH_MAX, '\0');
        const ssize_t nLength = ::readlink(strResolved.c_str(), strTarget.data(), strTarget.size());
        if (nLength <= 0 || static_cast<size_t>(nLength) >= strTarget.size())
            return strResolved;
        strTarget.resize(static_cast<size_t>(nLength));
        strResolved = strTarget[0] == '/' ? strTarget : FolderOf(strResolved) + strTarget;
    }
    throw EngineError("Cannot write '" + strPath + "': " + std::strerror(ELOOP));
}

CatalogLock::CatalogLock(const std::string& strCatalogPath, const Wait& wait)
    : m_strCatalogPath(ResolveCatalogLink(strCatalogPath)),
      m_strLockPath(SideName(m_strCatalogPath, ".lock")),
      m_strBuildPath(SideName(m_strCatalogPath, ".new")) {
    bool bToldWaiting = false;
    for (;;) {
        // Non-blocking, so a FIFO put where the lock goes cannot hold us up.
        const int fd = ::open(m_strLockPath.c_str(),
                              O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
        struct stat stOpened {};
        if (fd < 0 || ::fstat(fd, &stOpened) != 0 || !S_ISREG(stOpened.st_mode)) {
            const int nErr = fd < 0 ? errno : 0;
            if (fd >= 0)
                ::close(fd);
            throw EngineError(
                "Cannot lock '" + m_strCatalogPath + "' for writing: " + m_strLockPath + ": " +
                (nErr == 0 ? std::string("something other than a lock file stands there")
                           : std::string(std::strerror(nErr))));
        }
        int rc = ::flock(fd, LOCK_EX | LOCK_NB);
        if (rc != 0 && errno == EWOULDBLOCK) {
            if (!wait.bWait) {
                ::close(fd);
                throw EngineError("The catalog '" + m_strCatalogPath +
                                  "' is being written by another program (a create, update, "
                                  "reindex or delete); try again when it has finished.");
            }
            if (!bToldWaiting && wait.fnWaiting)
                wait.fnWaiting();
            bToldWaiting = true;
            if (wait.fnGiveUp) {
                // Tried again and again rather than waited for: a signal
                // that came just before a blocking wait began would not end it.
                while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EWOULDBLOCK) {
                    if (wait.fnGiveUp()) {
                        ::close(fd);
                        throw EngineError("Gave up waiting for another program writing '" +
                                          m_strCatalogPath + "'");
                    }
                    ::usleep(100 * 1000);
                }
            } else {
                while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
                }
            }
        }
        if (rc != 0) {
            const int nErr = errno;
            ::close(fd);
            throw EngineError("Cannot lock '" + m_strCatalogPath +
                              "' for writing: " + m_strLockPath + ": " + std::strerror(nErr));
        }
        // The holder before may have removed the lock file as it let go:
        // a lock on a file no longer there locks nothing.
        struct stat stHeld {};
        struct stat stNamed {};
        if (::fstat(fd, &stHeld) == 0 && ::lstat(m_strLockPath.c_str(), &stNamed) == 0 &&
            SameFile(stHeld, stNamed)) {
            m_fd = fd;
            return;
        }
        ::close(fd);
    }
}

CatalogLock::~CatalogLock() {
    // Removed while still held, so a waiter sees that its lock is stale.
    ::unlink(m_strLockPath.c_str());
    ::close(m_fd);
}

namespace {

// Whether strRest is empty or the suffix of a file a writer keeps beside a
// catalog.
bool IsCompanionSuffix(std::string_view rest) {
    return rest.empty() || rest == "-journal" || rest == "-wal" || rest == "-shm";
}

// ".NAME.update-PID" with a companion suffix, as updates of earlier versions
// named their builds: the prefix, then digits only.
bool IsOldUpdateBuild(std::string_view name, std::string_view prefix) {
    if (name.substr(0, prefix.size()) != prefix)
        return false;
    name.remove_prefix(prefix.size());
    size_t nDigits = 0;
    while (nDigits < name.size() && name[nDigits] >= '0' && name[nDigits] <= '9')
        ++nDigits;
    return nDigits > 0 && IsCompanionSuffix(name.substr(nDigits));
}

} // namespace

void CatalogLock::RemoveLeftovers() const {
    RemoveCatalog(m_strBuildPath);
    const std::string strFolder = FolderOf(m_strCatalogPath);
    // Appended, not "." + a temporary: g++ 12 at -O3 takes that for an
    // overlapping copy and warns.
    std::string strPrefix = ".";
    strPrefix += NameOf(m_strCatalogPath);
    strPrefix += ".update-";
    DIR* pDir = ::opendir(strFolder.empty() ? "." : strFolder.c_str());
    if (!pDir)
        return;
    std::vector<std::string> leftovers;
    while (const dirent* pEntry = ::readdir(pDir)) {
        const std::string_view name = pEntry->d_name;
        if (IsOldUpdateBuild(name, strPrefix) || IsAbandonedNewDatabase(strFolder, name))
            leftovers.emplace_back(name);
    }
    ::closedir(pDir);
    for (const std::string& strName : leftovers)
        ::unlink((strFolder + strName).c_str());
}

namespace {

void SyncPath(const std::string& strPath, int nFlags) {
    const int fd = ::open(strPath.c_str(), nFlags | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

std::string ReplaceCatalog(const std::string& strBuildPath, const std::string& strCatalogPath) {
    // A log still beside the build holds rows its file lacks: closing could
    // not write them into it (a full disk), and the file alone is no catalog.
    for (const char* pszSuffix : {"-wal", "-journal"}) {
        struct stat stLog {};
        if (::lstat((strBuildPath + pszSuffix).c_str(), &stLog) == 0) {
            RemoveCatalog(strBuildPath);
            return "Cannot finish the new catalog of '" + strCatalogPath +
                   "': its log could not be written into it (is the disk full?)";
        }
    }
    struct stat stOld {};
    if (::stat(strCatalogPath.c_str(), &stOld) == 0 && S_ISREG(stOld.st_mode)) {
        // The catalog keeps who may read it: a private one stays private.
        ::chmod(strBuildPath.c_str(), stOld.st_mode & 07777);
        if (::chown(strBuildPath.c_str(), stOld.st_uid, stOld.st_gid) != 0)
            ::chown(strBuildPath.c_str(), static_cast<uid_t>(-1), stOld.st_gid);
    }
    SyncPath(strBuildPath, O_RDONLY);
    // A log left beside the old file by a writer that is gone would be read
    // into the new one.
    for (const char* pszSuffix : {"-journal", "-wal", "-shm"})
        ::unlink((strCatalogPath + pszSuffix).c_str());
    if (::rename(strBuildPath.c_str(), strCatalogPath.c_str()) != 0) {
        const int nErr = errno;
        RemoveCatalog(strBuildPath);
        return "Cannot replace '" + strCatalogPath + "': " + std::strerror(nErr);
    }
    const std::string strFolder = FolderOf(strCatalogPath);
    SyncPath(strFolder.empty() ? "." : strFolder, O_RDONLY | O_DIRECTORY);
    return {};
}
