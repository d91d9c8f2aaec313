// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <string>

// The per-user data folder where catalogs made by Kestrel and dblist.txt live:
// $XDG_DATA_HOME/kestrel/ when XDG_DATA_HOME is an absolute path, otherwise
// $HOME/.local/share/kestrel/. Always ends with '/'. Creates the folder (and
// its parents) when missing; raises EngineError when it cannot.
std::string DataFolder();

inline constexpr const char* kMsgEnterName = "Enter database name";
inline constexpr const char* kMsgNameHasSlash = "Database name must not contain '/'";
inline constexpr const char* kMsgNameTooLong = "Database name is too long";

// What is wrong with strName as the name of a catalog in the folder
// strFolder, as the message to show: empty, holding '/', or so long that the
// catalog's file (or the journal beside it) could not be named. Empty when
// the name will do.
std::string CatalogNameProblem(const std::string& strFolder, const std::string& strName);

// The file of the catalog strName in the folder strFolder (which ends with
// '/'): the name as given, with ".mdb" always appended.
std::string CatalogPathOf(const std::string& strFolder, const std::string& strName);
