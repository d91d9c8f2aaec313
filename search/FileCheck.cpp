#include "search/FileCheck.h"

#include "scan/FileChecksum.h"
#include "scan/Paths.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

VerifyResult ResultOfMissing(int nErr) {
    if (IsResourceShortage(nErr))
        ThrowShortage(nErr, "check");
    return nErr == ENOENT || nErr == ENOTDIR ? VerifyResult::NotFound : VerifyResult::NotReadable;
}

} // namespace

UniqueFd OpenDirectoryPath(const std::string& strPath) {
    if (strPath.size() < PATH_MAX) {
        UniqueFd fd(::open(strPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.IsValid() || errno != ENAMETOOLONG)
            return fd;
    }
    UniqueFd dir(::open(strPath[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    size_t nPos = 0;
    while (dir.IsValid() && nPos < strPath.size()) {
        const size_t nEnd = std::min(strPath.find('/', nPos), strPath.size());
        const std::string strPart = strPath.substr(nPos, nEnd - nPos);
        nPos = nEnd + 1;
        if (strPart.empty())
            continue;
        dir = UniqueFd(::openat(dir.Get(), strPart.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    return dir;
}

VerifyResult CheckFileAt(int nDirFd, const char* pszName, std::optional<int64_t> nStoredSize,
                         std::string_view storedChecksum) {
    struct stat st {};
    if (nDirFd < 0 || ::fstatat(nDirFd, pszName, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return ResultOfMissing(errno);
    if (S_ISDIR(st.st_mode))
        return VerifyResult::NotFound;
    if (nStoredSize && *nStoredSize != st.st_size)
        return VerifyResult::Changed;
    const std::string_view stored = TrimmedChecksum(storedChecksum);
    if (!S_ISREG(st.st_mode) || stored.empty())
        return VerifyResult::NotChecked;
    static const uid_t kUid = ::geteuid();
    const bool bOwned = kUid == 0 || st.st_uid == kUid;
    errno = 0;
    const std::optional<std::string> current =
        FileChecksumAt(nDirFd, pszName, bOwned, static_cast<uint64_t>(st.st_size));
    if (!current) {
        if (errno == ENOENT)
            return VerifyResult::NotFound;
        if (IsResourceShortage(errno))
            ThrowShortage(errno, "check");
        // Unreadable, or it grew past its size while being read: not the
        // file that was catalogued, but nothing to compare either.
        return errno == 0 ? VerifyResult::Changed : VerifyResult::NotReadable;
    }
    return SameChecksum(*current, stored) ? VerifyResult::Unchanged : VerifyResult::Changed;
}

FileCheckResult CheckFile(const std::string& strPath, std::string_view storedChecksum,
                          std::optional<int64_t> nStoredSize) {
    const std::string strNormal = NormalPath(strPath);
    const size_t nSlash = strNormal.find_last_of('/');
    const UniqueFd dir = OpenDirectoryPath(nSlash == std::string::npos ? "."
                                           : nSlash == 0               ? "/"
                                                         : strNormal.substr(0, nSlash));
    const char* pszName = strNormal.c_str() + (nSlash == std::string::npos ? 0 : nSlash + 1);
    const VerifyResult result = CheckFileAt(dir.Get(), pszName, nStoredSize, storedChecksum);
    if (result == VerifyResult::NotFound || result == VerifyResult::Unchanged)
        return result == VerifyResult::NotFound ? FileCheckResult::NotFound
                                                : FileCheckResult::Unchanged;
    if (TrimmedChecksum(storedChecksum).empty())
        return FileCheckResult::NoChecksum;
    return result == VerifyResult::Changed ? FileCheckResult::Changed : FileCheckResult::Unreadable;
}
