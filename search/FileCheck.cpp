#include "search/FileCheck.h"

#include "scan/DirectoryReader.h"
#include "scan/FileChecksum.h"
#include "scan/Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileCheckResult CheckFile(const std::string& strPath, const std::string& strStoredChecksum,
                          std::optional<int64_t> nStoredSize) {
    // The file is opened once: what it is, and its digest, come from the same open.
    const UniqueFd fd(
        ::open(NormalPath(strPath).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.IsValid())
        return FileCheckResult::NotFound;
    struct stat st {};
    const bool bStat = ::fstat(fd.Get(), &st) == 0;
    // A directory is no file to check (it opens for reading here).
    if (bStat && S_ISDIR(st.st_mode))
        return FileCheckResult::NotFound;

    const std::string_view stored = TrimmedChecksum(strStoredChecksum);
    if (stored.empty())
        return FileCheckResult::NoChecksum;

    if (bStat && S_ISREG(st.st_mode) && nStoredSize && *nStoredSize != st.st_size)
        return FileCheckResult::Changed;
    const std::optional<std::string> current = ChecksumOfOpenFile(fd.Get());
    if (!current)
        return FileCheckResult::Unreadable;
    return SameChecksum(*current, stored) ? FileCheckResult::Unchanged : FileCheckResult::Changed;
}
