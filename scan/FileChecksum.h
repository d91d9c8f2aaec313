#pragma once

#include <optional>
#include <string>

// The MD5 of the whole contents of the file at strPath as 32 lowercase
// hexadecimal digits. No digest when the file cannot be opened, is not a
// regular file (a directory, FIFO or device is never read, and never blocks),
// or a read fails part way.
std::optional<std::string> FileChecksum(const std::string& strPath);

// The same for the entry pszName of the open directory nDirFd (or a path
// relative to the working directory with AT_FDCWD). A symbolic link is not
// followed: it is no regular file and gives no digest.
std::optional<std::string> FileChecksumAt(int nDirFd, const char* pszName);
