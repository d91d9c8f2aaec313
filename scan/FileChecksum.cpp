// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/FileChecksum.h"

#include "scan/Md5.h"

#include <cerrno>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large sequential reads: far fewer system calls than small pieces, and still
// well inside the processor's caches.
constexpr size_t kBlockSize = 128 * 1024;

// O_NONBLOCK: opening a FIFO or a device must never wait.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

std::optional<std::string> ChecksumAndClose(int fd, uint64_t nMaxBytes) {
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> digest = ChecksumOfOpenFile(fd, nMaxBytes);
    ::close(fd);
    return digest;
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

} // namespace

std::string_view TrimmedChecksum(std::string_view stored) {
    while (!stored.empty() && IsSpace(stored.back()))
        stored.remove_suffix(1);
    while (!stored.empty() && IsSpace(stored.front()))
        stored.remove_prefix(1);
    return stored;
}

bool SameChecksum(std::string_view computed, std::string_view stored) {
    return computed.size() == stored.size() &&
           ::strncasecmp(computed.data(), stored.data(), stored.size()) == 0;
}

std::optional<std::string> ChecksumOfOpenFile(int fd, uint64_t nMaxBytes) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    // Read-ahead only helps a file that takes more than one read.
    if (st.st_size > static_cast<off_t>(kBlockSize))
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    Md5Context context;
    alignas(64) unsigned char buffer[kBlockSize];
    uint64_t nTotal = 0;
    for (;;) {
        const ssize_t nRead = ::read(fd, buffer, sizeof buffer);
        if (nRead > 0) {
            nTotal += static_cast<uint64_t>(nRead);
            if (nTotal > nMaxBytes)
                return std::nullopt;
            context.Update(buffer, static_cast<size_t>(nRead));
        } else if (nRead == 0) {
            return DigestToHex(context.Finish());
        } else if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> FileChecksum(const std::string& strPath) {
    // O_NOATIME keeps a check from touching the access time where allowed.
    int fd = ::open(strPath.c_str(), kOpenFlags | O_NOATIME);
    if (fd < 0 && errno == EPERM)
        fd = ::open(strPath.c_str(), kOpenFlags);
    return ChecksumAndClose(fd, kNoReadLimit);
}

int OpenForChecksum(int nDirFd, const char* pszName, bool bOwned) {
    // Only the owner (or root) may ask not to touch the access time; asking
    // for another's file would fail and cost a second open.
    const int nFlags = kOpenFlags | O_NOFOLLOW;
    int fd = ::openat(nDirFd, pszName, nFlags | (bOwned ? O_NOATIME : 0));
    if (fd < 0 && bOwned && errno == EPERM)
        fd = ::openat(nDirFd, pszName, nFlags);
    return fd;
}

std::optional<std::string> FileChecksumAt(int nDirFd, const char* pszName, bool bOwned,
                                          uint64_t nMaxBytes) {
    return ChecksumAndClose(OpenForChecksum(nDirFd, pszName, bOwned), nMaxBytes);
}
