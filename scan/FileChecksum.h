// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// No cap on how much of a file a checksum reads.
inline constexpr uint64_t kNoReadLimit = UINT64_MAX;

// The MD5 of the whole contents of the file at strPath as 32 lowercase
// hexadecimal digits. No digest when the file cannot be opened, is not a
// regular file (a directory, FIFO or device is never read, and never blocks),
// or a read fails part way.
std::optional<std::string> FileChecksum(const std::string& strPath);

// The same for the entry pszName of the open directory nDirFd. A symbolic
// link is not followed: it is no regular file and gives no digest. bOwned
// says the file is the user's own, so reading it may leave its access time
// alone. No digest either when the file yields more than nMaxBytes bytes
// (it grew past what its size promised).
std::optional<std::string> FileChecksumAt(int nDirFd, const char* pszName, bool bOwned,
                                          uint64_t nMaxBytes = kNoReadLimit);

// Opens the entry pszName of the open directory nDirFd for reading its
// contents, never through a link and never waiting (a FIFO, a device), and
// without touching its access time where bOwned allows; -1 with errno when
// it cannot be opened. The caller closes what it returns.
int OpenForChecksum(int nDirFd, const char* pszName, bool bOwned);

// The same for a file the caller has open for reading (which stays open):
// read from its current offset to its end.
std::optional<std::string> ChecksumOfOpenFile(int fd, uint64_t nMaxBytes = kNoReadLimit);

// A checksum as a catalog stores it, without the white space around it; empty
// when it holds nothing else.
std::string_view TrimmedChecksum(std::string_view stored);

// True when a computed checksum and a trimmed stored one are the same digits,
// whatever their letter case.
bool SameChecksum(std::string_view computed, std::string_view stored);
