#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

// Exit statuses of kestrel-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // the operation failed or was refused
inline constexpr int kExitUsage = 2;  // the command line is wrong

// A command's arguments split into options and operands. Options come as
// "--name" or, for options that take a value, "--name VALUE" / "--name=VALUE";
// "--" ends the options, and a lone "-" is an operand.
struct CommandLine {
    std::set<std::string> flags;               // options given without a value
    std::map<std::string, std::string> values; // options given with a value
    std::vector<std::string> operands;

    bool Has(const std::string& strOption) const { return flags.count(strOption) != 0; }

    // Splits args. strFlags and strValued list the options the command knows
    // (with their dashes; "-h" is taken as "--help"). Returns false with a
    // message in strError for an unknown option or a missing value.
    bool Parse(const std::vector<std::string>& args, const std::set<std::string>& strFlags,
               const std::set<std::string>& strValued, std::string& strError);
};

// Prints "kestrel-cli: " + strMessage on standard error.
void PrintError(const std::string& strMessage);
