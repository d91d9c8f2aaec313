// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <string>

// Why strStartDir cannot be walked: it is missing, no directory, or cannot
// be read; the message names it. Empty when it can be walked.
std::string StartDirectoryProblem(const std::string& strStartDir);

// The start directory to store: an absolute one exactly as typed, a
// relative one as the absolute path it names now (links resolved), so no
// later command reads it against another working directory. A relative one
// that cannot be resolved (the working directory was removed) stays as given.
std::string AbsoluteStartDirectory(const std::string& strStartDir);

// True for a start directory recorded relative to a folder the catalog
// does not name (made by an earlier version or another program).
bool IsRelativeStartDirectory(const std::string& strStartDir);
