#pragma once

#include <string>
#include <vector>

// kestrel-cli info ENTRY...: each catalog's information as "Key: value"
// lines, catalogs separated by a blank line. Returns the exit status.
int RunInfoCommand(const std::vector<std::string>& args);

// kestrel-cli update [--checksum] [--max-size KB] [--exclude PATTERN]...
// [--one-file-system] ENTRY: brings a catalog up to date. Returns the exit
// status (as create's).
int RunUpdateCommand(const std::vector<std::string>& args);

// kestrel-cli reindex ENTRY...: builds (or rebuilds) the name index of each
// catalog. Returns the exit status.
int RunReindexCommand(const std::vector<std::string>& args);
