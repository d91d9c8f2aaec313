#include "scan/FileChecksum.h"

#include "scan/Md5.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large sequential reads: far fewer system calls than small pieces, and still
// well inside the processor's caches.
constexpr size_t kBlockSize = 128 * 1024;

int OpenForChecksum(int nDirFd, const char* pszName, int nExtraFlags) {
    // O_NONBLOCK: opening a FIFO or a device must never wait. O_NOATIME keeps
    // a catalogue run from touching every file's access time, where allowed.
    const int nFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | nExtraFlags;
    int fd = ::openat(nDirFd, pszName, nFlags | O_NOATIME);
    if (fd < 0 && errno == EPERM)
        fd = ::openat(nDirFd, pszName, nFlags);
    return fd;
}

std::optional<std::string> ChecksumOpenFile(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    Md5Context context;
    alignas(64) unsigned char buffer[kBlockSize];
    for (;;) {
        const ssize_t nRead = ::read(fd, buffer, sizeof buffer);
        if (nRead > 0) {
            context.Update(buffer, static_cast<size_t>(nRead));
        } else if (nRead == 0) {
            return DigestToHex(context.Finish());
        } else if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> ChecksumAt(int nDirFd, const char* pszName, int nExtraFlags) {
    const int fd = OpenForChecksum(nDirFd, pszName, nExtraFlags);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> digest = ChecksumOpenFile(fd);
    ::close(fd);
    return digest;
}

} // namespace

std::optional<std::string> FileChecksum(const std::string& strPath) {
    return ChecksumAt(AT_FDCWD, strPath.c_str(), 0);
}

std::optional<std::string> FileChecksumAt(int nDirFd, const char* pszName) {
    return ChecksumAt(nDirFd, pszName, O_NOFOLLOW);
}
