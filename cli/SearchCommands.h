#pragma once

#include <string>
#include <vector>

// kestrel-cli search [--where both|files|dirs] PATTERN [ENTRY...]: exit 0 with
// hits, 1 without, 2 on an error.
int RunSearchCommand(const std::vector<std::string>& args);
// kestrel-cli verify ENTRY...: exit 0 when no file changed or vanished, 1
// otherwise, 2 on an error.
int RunVerifyCommand(const std::vector<std::string>& args);
