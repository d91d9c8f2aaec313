// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <string>
#include <string_view>
#include <utility>

// The text with every pair "//" (left to right, not overlapping) made one
// '/': a run of n separators becomes n/2 rounded up.
std::string CollapseSeparatorPairs(std::string_view path);

// Joining a directory's path and an entry's name. Both rules are kept
// because paths already stored were made by them:
// JoinPath, how the walk makes the paths it stores: parent + '/' + name, with
// every pair "//" (left to right, not overlapping) made one '/': "/" and
// "usr" give "/usr", "/data/" and "x" give "/data/x".
std::string JoinPath(std::string_view parent, std::string_view name);
// FilePath, a file's path as results show it, from its directory's stored
// path and its name: the directory, '/', the name; a short directory path
// such as the root "/" loses the doubled separator this makes, a longer one
// ending in '/' keeps it. Paths are compared in their normal form instead
// (NormalPath).
std::string FilePath(std::string_view dir, std::string_view name);
// The same into strPath, whose memory serves again (one path after another).
void AssignFilePath(std::string_view dir, std::string_view name, std::string& strPath);
// The folder a path lies in, and its last name: "/a/b" gives "/a" and "b".
// A path in the root, or one without a '/', lies in "/".
std::pair<std::string, std::string> SplitFolderAndName(std::string_view path);

// The form in which paths are compared, across catalogs and with the disk:
// every run of '/' is one '/', and none ends the path but the root's. So
// "//t/x", "/t/x/" and "/t/x//" are all "/t/x", as the system reads them.
std::string NormalPath(std::string_view path);

// The path of normalPath below normalStart (both in the normal form): "" for
// the start itself; a path that is not below it (only whole names count:
// /database is not below /data) is returned whole.
std::string_view PathBelow(std::string_view normalPath, std::string_view normalStart);

// The path with each "." left out and each ".." taking the name before it,
// as a shell takes a typed path (without looking at the disk).
std::string LexicalPath(const std::string& strPath);
