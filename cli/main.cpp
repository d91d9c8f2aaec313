#include "cli/AuditCommands.h"
#include "cli/CatalogCommands.h"
#include "cli/CommandLine.h"
#include "cli/CreateCommand.h"
#include "cli/ListCommands.h"
#include "cli/Output.h"
#include "cli/SearchCommands.h"

#include "scan/OpenFileLimit.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

namespace {

const char* const kHelp =
    "Usage: kestrel-cli COMMAND [ARGUMENTS]\n"
    "       kestrel-cli --help | --version\n"
    "\n"
    "Kestrel catalogues directory trees and searches the catalogues, also when the\n"
    "disks they describe are not mounted.\n"
    "\n"
    "Commands:\n"
    "  create [--checksum] [--max-size KB] [--exclude PATTERN]... [--one-file-system]\n"
    "         [--jobs N] [--force] NAME START_DIR\n"
    "        walk START_DIR into the new catalog NAME\n"
    "  update [--checksum] [--max-size KB] [--exclude PATTERN]... [--one-file-system]\n"
    "         [--jobs N] ENTRY\n"
    "        bring a catalog up to date, reading only new and changed files\n"
    "  reindex ENTRY...\n"
    "        build the name index that makes searches for a piece of a name fast\n"
    "  info [--format tsv|csv|json] ENTRY...\n"
    "        print what catalogs record of themselves: when, where, how\n"
    "  list\n"
    "        print the catalog list, one entry a line\n"
    "  add PATH\n"
    "        add a catalog file from elsewhere to the list\n"
    "  delete [--yes] ENTRY\n"
    "        delete a listed catalog's file and its list entry\n"
    "  search [--where both|files|dirs] [--size +SIZE|-SIZE]... [--changed-within WHEN]\n"
    "         [--changed-before WHEN] [--format tsv|csv|json] [-0] PATTERN [ENTRY...]\n"
    "        search the named catalogs, or all listed ones\n"
    "  verify [--format tsv|csv|json] ENTRY...\n"
    "        check every catalogued file for changes\n"
    "  diff [--content] [--format tsv|csv|json] OLD NEW\n"
    "        what changed between two catalogs, or what of OLD has no copy in NEW\n"
    "  duplicates [--min-size SIZE] [--format tsv|csv|json] [ENTRY...]\n"
    "        files with the same size and checksum, the most wasteful first\n"
    "\n"
    "Catalogs live in the data folder $XDG_DATA_HOME/kestrel/ (by default\n"
    "~/.local/share/kestrel/) as NAME.mdb. 'kestrel-cli COMMAND --help' tells\n"
    "more of each command.\n";

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kHelp, stderr);
        return kExitUsage;
    }
    const std::string strCommand = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    RaiseOpenFileLimit();
    try {
        if (strCommand == "--help" || strCommand == "-h" || strCommand == "help") {
            OutputWriter out;
            out.Write(kHelp);
            out.Flush();
            return kExitOk;
        }
        if (strCommand == "--version") {
            OutputWriter out;
            out.Write("kestrel-cli " KESTREL_VERSION "\n");
            out.Flush();
            return kExitOk;
        }
        if (strCommand == "create")
            return RunCreateCommand(args);
        if (strCommand == "list")
            return RunListCommand(args);
        if (strCommand == "add")
            return RunAddCommand(args);
        if (strCommand == "delete")
            return RunDeleteCommand(args);
        if (strCommand == "search")
            return RunSearchCommand(args);
        if (strCommand == "verify")
            return RunVerifyCommand(args);
        if (strCommand == "info")
            return RunInfoCommand(args);
        if (strCommand == "diff")
            return RunDiffCommand(args);
        if (strCommand == "duplicates")
            return RunDuplicatesCommand(args);
        if (strCommand == "update")
            return RunUpdateCommand(args);
        if (strCommand == "reindex")
            return RunReindexCommand(args);
    } catch (const OutputError& error) {
        PrintError(error.what());
        return kExitUsage;
    } catch (const std::bad_alloc&) {
        PrintError("out of memory");
        return kExitFailed;
    } catch (const std::exception& error) {
        PrintError(error.what());
        return kExitFailed;
    }
    PrintError("unknown command '" + strCommand + "' (see kestrel-cli --help)");
    return kExitUsage;
}
