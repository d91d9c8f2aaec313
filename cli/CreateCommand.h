#pragma once

#include <string>
#include <vector>

// kestrel-cli create [--checksum] [--max-size KB] [--force] NAME START_DIR:
// builds the catalog NAME in the data folder through the scan job on a worker
// thread. Returns the exit status.
int RunCreateCommand(const std::vector<std::string>& args);

// The text of "kestrel-cli create --help".
extern const char* const kCreateHelp;
