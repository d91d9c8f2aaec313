// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/CatalogLock.h"

#include <string>
#include <string_view>
#include <vector>

// The list of catalogs the user can search: the catalogs in the data folder
// (listed by name) followed by the full paths remembered in dblist.txt there.

inline constexpr const char* kListFileName = "dblist.txt";
inline constexpr const char* kMsgNotValidDatabase = "Selected file is not valid database file";
inline constexpr const char* kMsgAlreadyInList = "Database already in list";
inline constexpr const char* kMsgPathHasLineBreak =
    "A path containing a line break cannot be kept in the database list";

// True for an entry that names its catalog file itself (it begins with '/');
// any other entry is a catalog name in the data folder.
bool IsFullPathEntry(std::string_view entry);

// The catalog file of an entry: the entry itself, or strAppPath + entry +
// ".mdb". A catalog listed from a file whose extension is in other letter
// case (Music.MDB) resolves to that real file.
std::string CatalogPathOfEntry(const std::string& strAppPath, const std::string& strEntry);

// CatalogPathOfEntry for an entry whose file is there or that the list
// holds; raises EngineError ("'X' is not in the catalog list") otherwise.
std::string CatalogPathOfKnownEntry(const std::string& strAppPath, const std::string& strEntry);

// The entries in list order: each file of strAppPath whose name ends in
// ".mdb" in any letter case, without those four characters, in the order the
// folder lists them; then the non-blank lines of dblist.txt in file order
// (LF or CR LF endings; lines of any length; a last line without newline).
std::vector<std::string> LoadDatabaseList(const std::string& strAppPath);

enum class AddResult {
    Added,          // appended to dblist.txt; the caller lists it at the end
    NotValid,       // kMsgNotValidDatabase: no table named dirs
    AlreadyListed,  // kMsgAlreadyInList: an entry names the same file (device
                    // and inode, through links) or is equal to the path
    HasLineBreak,   // kMsgPathHasLineBreak
    ListNotWritten, // dblist.txt could not be written; list it until the next load
};

// Tests the file at strPath and appends it to dblist.txt, keeping the
// file's lines, unless entries (or the list as it is now) name that file
// already, under any path: the list is rewritten whole and put in place in one step,
// so a failure leaves it exactly as it was, and programs that change it at
// the same time take turns. Raises EngineError when the file is no database,
// is damaged, or is no regular file.
AddResult AddDatabase(const std::string& strAppPath, const std::string& strPath,
                      const std::vector<std::string>& entries);

// The question asked before an entry's catalog is deleted.
std::string DeleteQuestion(const std::string& strEntry);

// Deletes the entry's catalog file (with any journal beside it) and, for a
// full-path entry, every line of dblist.txt equal to it. The new list is
// written before the file is deleted and put in place after: when either
// step fails nothing changes (save a list that could not be put in place
// after the file went, which is said). A missing file is no error. Does not
// ask. The catalog's writer lock is held meanwhile (see CatalogLock): while
// another program writes the catalog, it waits or, as wait says, returns
// why not. Returns the reason of a failure, else an empty text.
std::string DeleteDatabase(const std::string& strAppPath, const std::string& strEntry,
                           const CatalogLock::Wait& wait = {});

// Takes a full-path entry off the list: every line of dblist.txt equal to it
// leaves the file, which is rewritten whole and put in place in one step; the
// catalog file itself stays. Returns the reason of a failure (the entry is no
// full path, the list cannot be read or written), else an empty text; an
// entry the list no longer holds is no failure.
std::string RemoveFromList(const std::string& strAppPath, const std::string& strEntry);
