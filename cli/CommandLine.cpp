#include "cli/CommandLine.h"

#include <cstdio>

bool CommandLine::Parse(const std::vector<std::string>& args, const std::set<std::string>& strFlags,
                        const std::set<std::string>& strValued, std::string& strError) {
    bool bOptionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string strArg = args[i];
        if (bOptionsEnded || strArg.size() < 2 || strArg[0] != '-') {
            operands.push_back(strArg);
            continue;
        }
        if (strArg == "--") {
            bOptionsEnded = true;
            continue;
        }
        if (strArg == "-h")
            strArg = "--help";
        std::string strValue;
        bool bHasValue = false;
        if (const size_t nEqual = strArg.find('=');
            strArg.rfind("--", 0) == 0 && nEqual != std::string::npos) {
            strValue = strArg.substr(nEqual + 1);
            strArg.resize(nEqual);
            bHasValue = true;
        }
        if (strFlags.count(strArg) && !bHasValue) {
            flags.insert(strArg);
        } else if (strValued.count(strArg)) {
            if (!bHasValue) {
                if (i + 1 >= args.size()) {
                    strError = "option " + strArg + " needs a value";
                    return false;
                }
                strValue = args[++i];
            }
            values[strArg] = strValue;
        } else {
            strError = "unknown option " + args[i];
            return false;
        }
    }
    return true;
}

void PrintError(const std::string& strMessage) {
    std::fprintf(stderr, "kestrel-cli: %s\n", strMessage.c_str());
}
