// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// What a search says before it reads any catalog.
inline constexpr const char* kMsgNoDatabases =
    "There are no any database to search. Create new database or add existing database manually";
inline constexpr const char* kMsgEnterSearchText = "Enter text to search";
inline constexpr const char* kMsgSelectDatabases = "Select one or more database files to search";
