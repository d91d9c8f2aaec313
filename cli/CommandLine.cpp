// SPDX-License-Identifier: GPL-3.0-or-later

#include "cli/CommandLine.h"

#include "catalog/CatalogInfo.h"
#include "catalog/EngineError.h"
#include "cli/Output.h"
#include "search/CatalogOpen.h"

#include <charconv>
#include <cstdio>
#include <limits>

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
        if (strArg == "-h" && !strFlags.count(strArg))
            strArg = "--help"; // unless the command has a -h of its own
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
            m_allValues.emplace_back(strArg, strValue);
        } else {
            strError = "unknown option " + args[i];
            return false;
        }
    }
    return true;
}

std::vector<std::string> CommandLine::All(const std::string& strOption) const {
    std::vector<std::string> all;
    for (const auto& [strName, strValue] : m_allValues)
        if (strName == strOption)
            all.push_back(strValue);
    return all;
}

namespace {

// The whole of strText as a number from nMin to nMax.
template <typename Number>
bool ParseWholeNumber(const std::string& strText, Number nMin, Number nMax, Number& nValue) {
    const char* pBegin = strText.data();
    const char* pEnd = pBegin + strText.size();
    const auto [pStop, ec] = std::from_chars(pBegin, pEnd, nValue);
    return ec == std::errc() && pStop == pEnd && nValue >= nMin && nValue <= nMax;
}

} // namespace

bool ReadScanOptions(const CommandLine& cmd, ScanOptionValues& values) {
    if (auto it = cmd.values.find("--max-size"); it != cmd.values.end()) {
        int32_t nKb = 0;
        if (!ParseWholeNumber(it->second, 0, std::numeric_limits<int32_t>::max(), nKb)) {
            PrintError("--max-size takes a whole number of KB from 0 to 2147483647");
            return false;
        }
        values.nMaxFileSizeKb = nKb;
    }
    values.excludes = cmd.All("--exclude");
    try {
        for (const std::string& strPattern : values.excludes)
            CheckSearchPattern(strPattern);
    } catch (const EngineError& error) {
        PrintError(error.what());
        return false;
    }
    if (auto it = cmd.values.find("--archive-depth"); it != cmd.values.end()) {
        int32_t nDepth = 0;
        if (!ParseWholeNumber(it->second, 1, kMaxArchiveDepth, nDepth)) {
            PrintError("--archive-depth takes a whole number of levels from 1 to " +
                       std::to_string(kMaxArchiveDepth));
            return false;
        }
        values.nArchiveDepth = nDepth;
    }
    values.bArchives = cmd.Has("--archives") || values.nArchiveDepth.has_value();
    if (auto it = cmd.values.find("--jobs"); it != cmd.values.end()) {
        if (!ParseWholeNumber(it->second, 1u, 256u, values.nJobs)) {
            PrintError("--jobs takes a whole number of threads from 1 to 256");
            return false;
        }
    }
    return true;
}

bool ParseFormatOption(const CommandLine& cmd, OutputFormat& format) {
    format = OutputFormat::Tsv;
    const auto it = cmd.values.find("--format");
    if (it == cmd.values.end() || ParseOutputFormat(it->second, format))
        return true;
    PrintError("--format takes tsv, csv or json");
    return false;
}

bool ReadCountOption(const CommandLine& cmd, const char* pszOption, uint64_t nMax,
                     std::optional<uint64_t>& nValue) {
    const auto it = cmd.values.find(pszOption);
    if (it == cmd.values.end())
        return true;
    uint64_t n = 0;
    if (ParseWholeNumber(it->second, uint64_t{0}, nMax, n)) {
        nValue = n;
        return true;
    }
    PrintError(std::string(pszOption) + " takes a whole number from 0 to " + std::to_string(nMax));
    return false;
}

void PrintNote(const std::string& strLine) {
    std::fputs(strLine.c_str(), stderr);
}

void PrintError(const std::string& strMessage) {
    std::fprintf(stderr, "kestrel-cli: %s\n", strMessage.c_str());
}

int Fail(int nExit, const std::string& strMessage) {
    PrintError(strMessage);
    return nExit;
}

int EngineFailure(OutputWriter& out, const EngineError& error) {
    out.Flush();
    return Fail(kExitError, error.Describe());
}
