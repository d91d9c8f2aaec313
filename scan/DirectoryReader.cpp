// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/DirectoryReader.h"

#include "catalog/EngineError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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

bool IsResourceShortage(int nErrno) {
    return nErrno == EMFILE || nErrno == ENFILE || nErrno == ENOMEM;
}

void ThrowShortage(int nErrno, const char* pszWork) {
    throw EngineError(std::string("The ") + pszWork +
                      " ran out of system resources: " + std::strerror(nErrno));
}

UniqueFd DirectoryReader::OpenStart(const std::string& strPath) {
    return UniqueFd(::open(strPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

UniqueFd DirectoryReader::OpenChild(int nParentFd, const char* pszName) {
    return UniqueFd(::openat(nParentFd, pszName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool DirectoryReader::IsOnPseudoFileSystem(int nDirFd) {
    struct statfs fs {};
    if (::fstatfs(nDirFd, &fs) != 0)
        return false;
    // The kernel's magic numbers of its made-up file systems (linux/magic.h).
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x9fa0:     // proc
    case 0x62656572: // sysfs
    case 0x64626720: // debugfs
    case 0x74726163: // tracefs
    case 0x73636673: // securityfs
    case 0x27e0eb:   // cgroup
    case 0x63677270: // cgroup2
    case 0xcafe4a11: // bpf
    case 0x6165676c: // pstore
    case 0xde5e81e4: // efivarfs
    case 0x62656570: // configfs
    case 0x1cd1:     // devpts
    case 0x65735543: // fusectl
    case 0xf97cff8c: // selinuxfs
    case 0x42494e4d: // binfmt_misc
    case 0x19800202: // mqueue
    case 0x6e736673: // nsfs
    case 0x7655821:  // resctrl
        return true;
    default:
        return false;
    }
}

DirectoryReader::DirectoryReader(int nDirFd) : m_nDirFd(nDirFd) {
    // The listing gets its own descriptor: closedir closes it, while the
    // caller's stays open for opening the subdirectories afterwards.
    const int fd = ::fcntl(nDirFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        m_nError = errno;
        return;
    }
    m_pDir = ::fdopendir(fd);
    if (!m_pDir) {
        m_nError = errno;
        ::close(fd);
    }
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
        if (!pEntry) {
            m_nError = errno;
            return false;
        }
        const char* pszName = pEntry->d_name;
        if (pszName[0] == '.' && (pszName[1] == 0 || (pszName[1] == '.' && pszName[2] == 0)))
            continue;
        entry.pszName = pszName;
        entry.name = std::string_view(pszName);
        entry.nSize.reset();
        entry.nMtimeNs.reset();
        entry.nMode.reset();
        entry.bIsRegular = false;
        entry.bOwned = false;
        // The listing's own type saves a stat for every directory; only
        // files need one, for their size.
        entry.bIsDirectory = pEntry->d_type == DT_DIR;
        if (entry.bIsDirectory)
            return true;
        struct stat st {};
        if (::fstatat(m_nDirFd, pszName, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            entry.bIsDirectory = S_ISDIR(st.st_mode);
            entry.bIsRegular = S_ISREG(st.st_mode);
            if (!entry.bIsDirectory) {
                entry.nSize = static_cast<int64_t>(st.st_size);
                entry.nMode = static_cast<uint32_t>(st.st_mode);
                entry.nMtimeNs =
                    static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
                static const uid_t kUid = ::geteuid();
                entry.bOwned = kUid == 0 || st.st_uid == kUid;
            }
        } else if (errno == ENOENT) {
            continue; // gone since the listing was read
        } else if (pEntry->d_type == DT_UNKNOWN) {
            entry.bIsDirectory = false;
        }
        return true;
    }
}
