// SPDX-License-Identifier: GPL-3.0-or-later

#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/Output.h"

#include "scan/OpenFileLimit.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

// strFirst and the words of synopsis (a [...] group is one word), as many a
// line as fit in nWidth characters, each further line indented by nIndent.
std::string WrapSynopsis(const std::string& strFirst, std::string_view synopsis, size_t nWidth,
                         size_t nIndent) {
    std::string strText = strFirst;
    size_t nLineStart = 0, nDepth = 0, nWord = 0;
    for (size_t i = 0; i <= synopsis.size(); ++i) {
        if (i < synopsis.size() && (synopsis[i] != ' ' || nDepth > 0)) {
            nDepth += synopsis[i] == '[';
            nDepth -= synopsis[i] == ']';
            continue;
        }
        const std::string_view word = synopsis.substr(nWord, i - nWord);
        nWord = i + 1;
        if (word.empty())
            continue;
        if (strText.size() == strFirst.size() ||
            strText.size() - nLineStart + 1 + word.size() <= nWidth) {
            strText += ' ';
        } else {
            strText += '\n';
            nLineStart = strText.size();
            strText.append(nIndent, ' ');
        }
        strText += word;
    }
    return strText;
}

std::string GeneralHelp() {
    std::string strText =
        "Usage: kestrel-cli COMMAND [ARGUMENTS]\n"
        "       kestrel-cli --help | --version\n"
        "\n"
        "Kestrel catalogues directory trees and searches the catalogues, also when the\n"
        "disks they describe are not mounted.\n"
        "\n"
        "Commands:\n";
    for (const CliCommand& command : kCommands)
        strText += WrapSynopsis(std::string("  ") + command.pszName, command.pszSynopsis, 82, 9) +
                   "\n        " + command.pszSummary + "\n";
    return strText + "\n"
                     "Catalogs live in the data folder $XDG_DATA_HOME/kestrel/ (by default\n"
                     "~/.local/share/kestrel/) as NAME.mdb. 'kestrel-cli COMMAND --help' tells\n"
                     "more of each command.\n";
}

void WriteOut(const std::string& strText) {
    OutputWriter out;
    out.Write(strText);
    out.Flush();
}

// Parses the command's arguments with its options and runs it, or prints
// its help for --help.
int RunCommand(const CliCommand& command, const std::vector<std::string>& args) {
    CommandLine cmd;
    std::set<std::string> flags = command.flags;
    flags.insert("--help");
    if (std::string strError; !cmd.Parse(args, flags, command.valued, strError))
        return Fail(kExitUsage, strError + " (see --help)");
    if (!cmd.Has("--help"))
        return command.fnRun(cmd);
    const std::string strFirst = std::string("Usage: kestrel-cli ") + command.pszName;
    WriteOut(WrapSynopsis(strFirst, command.pszSynopsis, 81, strFirst.size() + 1) + "\n\n" +
             command.pszHelp);
    return kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(GeneralHelp().c_str(), stderr);
        return kExitUsage;
    }
    const std::string strCommand = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    RaiseOpenFileLimit();
    try {
        if (strCommand == "--help" || strCommand == "-h" || strCommand == "help") {
            WriteOut(GeneralHelp());
            return kExitOk;
        }
        if (strCommand == "--version") {
            WriteOut("kestrel-cli " KESTREL_VERSION "\n");
            return kExitOk;
        }
        if (strCommand == "--command-table") { // for the tests: each command and its options
            std::string strTable;
            for (const CliCommand& command : kCommands) {
                strTable += command.pszName;
                for (const auto* pOptions : {&command.flags, &command.valued})
                    for (const std::string& strOption : *pOptions)
                        strTable += " " + strOption;
                strTable += "\n";
            }
            WriteOut(strTable);
            return kExitOk;
        }
        for (const CliCommand& command : kCommands)
            if (strCommand == command.pszName)
                return RunCommand(command, args);
    } catch (const OutputError& error) {
        return Fail(kExitError, error.what());
    } catch (const std::bad_alloc&) {
        return Fail(kExitFailed, "out of memory");
    } catch (const std::exception& error) {
        return Fail(kExitFailed, error.what());
    }
    return Fail(kExitUsage, "unknown command '" + strCommand + "' (see kestrel-cli --help)");
}
