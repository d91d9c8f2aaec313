// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One member of an archive as its header tells it.
struct ArchiveMember {
    // Its path inside the archive, '/' between names, without a leading '/'
    // or "./", a trailing '/', empty names or "." names (ArchiveMemberPath).
    std::string strPath;
    std::optional<int64_t> nSize;        // bytes of data, when the header says
    std::optional<int64_t> nMtimeNs;     // nanoseconds since 1970 UTC, when set
    uint32_t nMode = 0;                  // type and permission bits, as st_mode
    bool bEncrypted = false;             // its data (or its header) needs a password
    std::optional<std::string> checksum; // MD5 of its data, 32 lowercase digits
};

// How one archive was read.
struct ArchiveOutcome {
    std::string strFormat;   // as the library names it ("ZIP 2.0 (deflation)", "GNU tar format")
    bool bComplete = true;   // read to its end
    std::string strProblem;  // why not, when not
    uint64_t nMembers = 0;   // members given
    uint64_t nBytesRead = 0; // bytes of decompressed data the reading took
};

// What ReadArchive hands its members to, and where it asks for its limits.
class ArchiveSink {
public:
    virtual ~ArchiveSink() = default;
    // An archive begins: the file itself (nOuterMember is 0), or the member
    // nOuterMember that an earlier Member call returned. Returns its id.
    virtual int64_t BeginArchive(int64_t nOuterMember) = 0;
    // A member of the archive nArchive; returns its id.
    virtual int64_t Member(int64_t nArchive, const ArchiveMember& member) = 0;
    // A member given earlier got its checksum afterwards (it was an archive
    // read while it was hashed).
    virtual void MemberChecksum(int64_t nMember, const std::string& checksum) = 0;
    // The archive nArchive has ended.
    virtual void EndArchive(int64_t nArchive, const ArchiveOutcome& outcome) = 0;
    // True once the reading should end (what was given stands).
    virtual bool Stopped() = 0;
};

// What the reading of an archive may do.
struct ArchiveLimits {
    bool bChecksum = false;         // hash the data of members
    uint64_t nMaxChecksumBytes = 0; // of members whose size is at most this
    int nMaxDepth = 1;              // 1: members of the file only; 2: of archives in it too, ...
    // The most decompressed bytes the reading of one file may take: a base,
    // and so many times the file's size on top.
    uint64_t nBaseBytes = 64ull << 20;
    uint64_t nTimesSize = 100;
};

// Whether a file's name is one of an archive Kestrel reads members of (by
// its ending: .zip, .tar, .tar.gz, .tgz, .7z, .rar, .iso, .cpio, ...; letter
// case aside).
bool IsArchiveName(std::string_view name);

// Reads the members of the archive open as fd (a regular file, read from
// its start; it stays open) into sink, and of archives inside it as deep as
// limits allow. Never asks for a password, never writes anything, and reads
// no more decompressed data than limits allow. Returns false, with no
// BeginArchive call, when the file is no archive of a known kind; a damaged
// archive gives what could be read and an outcome that says it is not
// complete. Raises std::bad_alloc when memory runs out.
bool ReadArchive(int fd, uint64_t nFileSize, const ArchiveLimits& limits, ArchiveSink& sink);

// What reading one member's data again found.
struct MemberData {
    bool bFound = false;          // the member is there, by its path
    std::optional<int64_t> nSize; // as its header says
    std::optional<int64_t> nMtimeNs;
    std::optional<std::string> checksum; // MD5 of its data, when it could be read whole
    std::string strProblem;              // why the member or its data could not be read
};

// Finds the member at path (one path a level: the member of the file, then
// the member of the archive that member is, ...; each as ArchiveMemberPath
// gives it) in the archive open as fd, read from its start, and hashes its
// data, within limits (nMaxChecksumBytes and the budget; the depth is that
// of path). The first member of that path is taken. Raises std::bad_alloc.
MemberData ReadMemberData(int fd, uint64_t nFileSize, const std::vector<std::string>& path,
                          const ArchiveLimits& limits);

// The path of a member as a catalog stores it: "./a//b/", "/a/b" and "a/b"
// all give "a/b"; ".." names are kept as they are.
std::string ArchiveMemberPath(std::string_view raw);
