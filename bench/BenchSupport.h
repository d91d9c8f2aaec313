// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <string>

// What both benchmark programs need around their timed runs.

// A new temporary folder below $TMPDIR (or /tmp), named after strPrefix;
// ends the program when it cannot be made.
std::string MakeTempDir(const std::string& strPrefix);

// The number after pszOption on the command line (from argv[2] on), or nDefault.
uint64_t OptionValue(int argc, char** argv, const char* pszOption, uint64_t nDefault);
