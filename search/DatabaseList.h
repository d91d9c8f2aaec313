#pragma once

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

// The entries in list order: each file of strAppPath whose name ends in
// ".mdb" in any letter case, without those four characters, in the order the
// folder lists them; then the non-blank lines of dblist.txt in file order
// (LF or CR LF endings; lines of any length; a last line without newline).
std::vector<std::string> LoadDatabaseList(const std::string& strAppPath);

enum class AddResult {
    Added,          // appended to dblist.txt; the caller lists it at the end
    NotValid,       // kMsgNotValidDatabase: no table named dirs
    AlreadyListed,  // kMsgAlreadyInList: an entry equal to the path exists
    HasLineBreak,   // kMsgPathHasLineBreak
    ListNotWritten, // dblist.txt could not be written; list it until the next load
};

// Tests the file at strPath and appends it to dblist.txt, keeping the
// file's lines. Raises EngineError when the file is no database or is damaged.
AddResult AddDatabase(const std::string& strAppPath, const std::string& strPath,
                      const std::vector<std::string>& entries);

// The question asked before an entry's catalog is deleted.
std::string DeleteQuestion(const std::string& strEntry);

// Deletes the entry's catalog file and, for a full-path entry, every line of
// dblist.txt equal to it. The list file is replaced whole (a new file renamed
// over it), so a failure part way leaves the old one as it was. A missing
// file is no error. Does not ask.
void DeleteDatabase(const std::string& strAppPath, const std::string& strEntry);
