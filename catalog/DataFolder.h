#pragma once

#include <string>

// The per-user data folder where catalogs made by Kestrel and dblist.txt live:
// $XDG_DATA_HOME/kestrel/ when XDG_DATA_HOME is an absolute path, otherwise
// $HOME/.local/share/kestrel/. Always ends with '/'. Creates the folder (and
// its parents) when missing; raises EngineError when it cannot.
std::string DataFolder();
