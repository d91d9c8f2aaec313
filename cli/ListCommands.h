#pragma once

#include <string>
#include <vector>

// kestrel-cli list / add PATH / delete [--yes] ENTRY. Each returns the exit status.
int RunListCommand(const std::vector<std::string>& args);
int RunAddCommand(const std::vector<std::string>& args);
int RunDeleteCommand(const std::vector<std::string>& args);
