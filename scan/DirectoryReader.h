// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <dirent.h>
#include <optional>
#include <string>
#include <string_view>

// An open file descriptor, closed when the object goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }
    int Release();
    void Reset();

private:
    int m_fd = -1;
};

// One entry of a directory listing; the name lasts until the next Next().
struct DirectoryEntry {
    const char* pszName = nullptr;
    std::string_view name;
    bool bIsDirectory = false; // a real directory, never a link to one
    bool bIsRegular = false;   // a regular file, never a link to one
    bool bOwned = false;       // the file belongs to this process's user (or we are root)
    // The entry's own size (a link's, not its target's); absent for a
    // directory and when unknown.
    std::optional<int64_t> nSize;
    // Its modification time in nanoseconds since 1970 UTC; absent for a
    // directory and when unknown.
    std::optional<int64_t> nMtimeNs;
    // Its st_mode (type and permissions); absent for a directory and when
    // unknown.
    std::optional<uint32_t> nMode;
};

// True when a failed open or listing ran out of something the whole process
// shares (descriptors, memory) rather than meeting the directory's own state
// (no access, gone, not a directory, a failing disk).
bool IsResourceShortage(int nErrno);
// Ends a walk (or what pszWork names) that ran out of them: raises
// EngineError naming nErrno.
[[noreturn]] void ThrowShortage(int nErrno, const char* pszWork = "walk");

// Reads the entries of one open directory in the file system's order,
// without "." and "..". A symbolic link is reported as the link itself.
class DirectoryReader {
public:
    // Opens the start directory of a walk by path; a link to a directory is
    // followed, as the path was named on purpose. Invalid when it cannot be
    // read, with errno telling why.
    static UniqueFd OpenStart(const std::string& strPath);
    // Opens the subdirectory pszName of an open directory, never through a
    // link. Invalid when it cannot be read, with errno telling why.
    static UniqueFd OpenChild(int nParentFd, const char* pszName);
    // True when the open directory lies on a file system whose files are made
    // up by the kernel (proc, sysfs, debugfs and the like): their sizes say
    // nothing of what reading them yields.
    static bool IsOnPseudoFileSystem(int nDirFd);

    // Starts reading the directory nDirFd, which stays the caller's.
    explicit DirectoryReader(int nDirFd);
    ~DirectoryReader();
    DirectoryReader(const DirectoryReader&) = delete;
    DirectoryReader& operator=(const DirectoryReader&) = delete;

    // False when the listing could not be started; Error() tells why.
    bool IsOpen() const { return m_pDir != nullptr; }
    // Fills entry with the next one; false at the end or when reading fails
    // (the entries given so far stand).
    bool Next(DirectoryEntry& entry);
    // The errno of the failure that ended (or prevented) the listing; 0 when
    // it ran to its end.
    int Error() const { return m_nError; }

private:
    int m_nDirFd;
    DIR* m_pDir = nullptr;
    int m_nError = 0;
};
