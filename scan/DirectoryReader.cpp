#include "scan/DirectoryReader.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        Reset();
        m_fd = other.Release();
    }
    return *this;
}

int UniqueFd::Release() {
    return std::exchange(m_fd, -1);
}

void UniqueFd::Reset() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

UniqueFd DirectoryReader::OpenStart(const std::string& strPath) {
    return UniqueFd(::open(strPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

UniqueFd DirectoryReader::OpenChild(int nParentFd, const char* pszName) {
    return UniqueFd(::openat(nParentFd, pszName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

DirectoryReader::DirectoryReader(int nDirFd) : m_nDirFd(nDirFd) {
    // The listing gets its own descriptor: closedir closes it, while the
    // caller's stays open for opening the subdirectories afterwards.
    const int fd = ::fcntl(nDirFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return;
    m_pDir = ::fdopendir(fd);
    if (!m_pDir)
        ::close(fd);
}

DirectoryReader::~DirectoryReader() {
    if (m_pDir)
        ::closedir(m_pDir);
}

bool DirectoryReader::Next(DirectoryEntry& entry) {
    if (!m_pDir)
        return false;
    for (;;) {
        errno = 0;
        const dirent* pEntry = ::readdir(m_pDir);
        if (!pEntry)
            return false;
        const char* pszName = pEntry->d_name;
        if (pszName[0] == '.' && (pszName[1] == 0 || (pszName[1] == '.' && pszName[2] == 0)))
            continue;
        entry.pszName = pszName;
        entry.name = std::string_view(pszName);
        entry.nSize.reset();
        entry.bIsRegular = false;
        // The listing's own type saves a stat for every directory; only
        // files need one, for their size.
        entry.bIsDirectory = pEntry->d_type == DT_DIR;
        if (entry.bIsDirectory)
            return true;
        struct stat st {};
        if (::fstatat(m_nDirFd, pszName, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            entry.bIsDirectory = S_ISDIR(st.st_mode);
            entry.bIsRegular = S_ISREG(st.st_mode);
            if (!entry.bIsDirectory)
                entry.nSize = static_cast<int64_t>(st.st_size);
        } else if (errno == ENOENT) {
            continue; // gone since the listing was read
        } else if (pEntry->d_type == DT_UNKNOWN) {
            entry.bIsDirectory = false;
        }
        return true;
    }
}
