// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <string>

// True when anything stands at strPath: a file, a folder, a link (also one
// that points nowhere). With bFollowLinks a link counts only when what it
// points to is there.
bool PathExists(const std::string& strPath, bool bFollowLinks = false);

// True when strPath is a regular file, or a link to one.
bool IsRegularFile(const std::string& strPath);
