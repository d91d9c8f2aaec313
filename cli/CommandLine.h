// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "search/RecordWriter.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

class EngineError;
class OutputWriter;

// Exit statuses of kestrel-cli, named by what they mean; several share a number.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the operation failed or was refused
inline constexpr int kExitNoMatch = 1; // the search or duplicates found nothing
inline constexpr int kExitDiffers = 1; // verify or diff found a change
inline constexpr int kExitUsage = 2;   // the command line is wrong
inline constexpr int kExitError = 2;   // an engine or system error (or an unwritable output)

// A command's arguments split into options and operands. Options come as
// "--name" or, for options that take a value, "--name VALUE" / "--name=VALUE";
// "--" ends the options, and a lone "-" is an operand.
struct CommandLine {
    std::set<std::string> flags;               // options given without a value
    std::map<std::string, std::string> values; // options given with a value (the last one)
    std::vector<std::string> operands;

    bool Has(const std::string& strOption) const { return flags.count(strOption) != 0; }
    // Every value given to a repeatable option, in order.
    std::vector<std::string> All(const std::string& strOption) const;

    // Splits args. strFlags and strValued list the options the command knows
    // (with their dashes; "-h" is taken as "--help"). Returns false with a
    // message in strError for an unknown option or a missing value.
    bool Parse(const std::vector<std::string>& args, const std::set<std::string>& strFlags,
               const std::set<std::string>& strValued, std::string& strError);

private:
    std::vector<std::pair<std::string, std::string>> m_allValues;
};

// The options create and update share, as given.
struct ScanOptionValues {
    std::optional<int32_t> nMaxFileSizeKb; // --max-size
    std::vector<std::string> excludes;     // --exclude, each checked
    unsigned nJobs = 0;                    // --jobs; 0 when not given
    bool bArchives = false;                // --archives, or --archive-depth
    std::optional<int32_t> nArchiveDepth;  // --archive-depth
};
// Reads them; prints what is wrong and returns false for a bad value.
bool ReadScanOptions(const CommandLine& cmd, ScanOptionValues& values);

// Reads --format into format (tsv when not given); prints the error and
// returns false for a value other than tsv, csv or json.
bool ParseFormatOption(const CommandLine& cmd, OutputFormat& format);

// Reads the option pszOption, when given, into nValue as a whole number from
// 0 to nMax; prints the error and returns false for anything else.
bool ReadCountOption(const CommandLine& cmd, const char* pszOption, uint64_t nMax,
                     std::optional<uint64_t>& nValue);

// Prints a summary line (which ends with its own line feed) on standard error.
void PrintNote(const std::string& strLine);

// Prints "kestrel-cli: " + strMessage on standard error.
void PrintError(const std::string& strMessage);
// Prints strMessage as PrintError does and returns nExit, for a command that
// ends on it.
int Fail(int nExit, const std::string& strMessage);

// A command that failed on an engine error: writes what out holds, prints
// the error and returns the exit status for it.
int EngineFailure(OutputWriter& out, const EngineError& error);
