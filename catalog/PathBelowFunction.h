// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class Database;

// Gives the open connection the SQL function path_below(start, dir[, name]):
// the path of the directory dir, or of the entry name in it, below the start
// directory start, compared in the normal form (NormalPath, PathBelow), so
// catalogs of one tree whose start directories were typed differently ("/t/x",
// "//t/x", "/t/x/") give the same paths. A directory's path ends with '/'; the
// start directory itself gives NULL. Raises EngineError.
void RegisterPathBelowFunction(Database& database);
