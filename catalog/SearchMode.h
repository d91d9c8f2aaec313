// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Where a search looks: the index of the "Where search:" choice.
enum SearchMode : int {
    kSearchBoth = 0,  // "Directories and files": file names and directory paths
    kSearchFiles = 1, // "Files": file names
    kSearchDirs = 2,  // "Directories": directory paths; hits are directories
};
