// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <set>
#include <string>
#include <vector>

struct CommandLine;

// A command of kestrel-cli. Its usage lines ("Usage: kestrel-cli NAME
// SYNOPSIS", wrapped) and its help make "kestrel-cli NAME --help"; its name,
// synopsis and summary its part of "kestrel-cli --help".
struct CliCommand {
    const char* pszName;
    int (*fnRun)(const CommandLine& cmd); // runs the parsed command; returns the exit status
    std::set<std::string> flags;          // the options without a value (--help aside)
    std::set<std::string> valued;         // the options that take a value
    const char* pszSummary;
    const char* pszSynopsis; // what follows the name, on one line
    const char* pszHelp;     // the text after the usage lines and a blank line
};

// Every command, in the order "kestrel-cli --help" lists them.
extern const std::vector<CliCommand> kCommands;

// The commands' handlers, in the files cli/*Command*.cpp.
int RunCreateCommand(const CommandLine& cmd);
int RunUpdateCommand(const CommandLine& cmd);
int RunReindexCommand(const CommandLine& cmd);
int RunInfoCommand(const CommandLine& cmd);
int RunListCommand(const CommandLine& cmd);
int RunAddCommand(const CommandLine& cmd);
int RunDeleteCommand(const CommandLine& cmd);
int RunSearchCommand(const CommandLine& cmd);
int RunVerifyCommand(const CommandLine& cmd);
int RunDiffCommand(const CommandLine& cmd);
int RunDuplicatesCommand(const CommandLine& cmd);
int RunLsCommand(const CommandLine& cmd);
int RunTreeCommand(const CommandLine& cmd);
int RunDuCommand(const CommandLine& cmd);
int RunVolumesCommand(const CommandLine& cmd);
int RunNoteCommand(const CommandLine& cmd);
int RunWatchCommand(const CommandLine& cmd);
