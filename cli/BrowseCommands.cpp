// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/CatalogTree.h"
#include "browse/EntryMode.h"
#include "catalog/CatalogInfo.h"
#include "catalog/DataFolder.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/Output.h"
#include "scan/Paths.h"
#include "search/CatalogOpen.h"

#include <algorithm>
#include <functional>

namespace {

// The folder a command shows: PATH as stored, or below the start directory;
// the start directory without one. Null, with the message said, when there
// is no such folder.
const TreeDir* ChosenFolder(Database& database, const CatalogTree& tree, const CommandLine& cmd) {
    const TreeDir* pStart = nullptr;
    if (const std::optional<std::string> strStart = ReadStartDirectory(database))
        pStart = tree.DirByPath(*strStart);
    if (!pStart && !tree.Tops().empty())
        pStart = tree.DirById(tree.Tops()[0]);
    if (cmd.operands.size() < 2) {
        if (!pStart)
            PrintError("the catalog '" + cmd.operands[0] + "' holds no folder");
        return pStart;
    }
    const std::string& strPath = cmd.operands[1];
    const std::string strWhole = !strPath.empty() && strPath[0] == '/' ? strPath
                                 : pStart ? pStart->strPath + "/" + strPath
                                          : std::string();
    // As typed, or with its . and .. taken as a shell takes them.
    const TreeDir* pDir = strWhole.empty() ? nullptr : tree.DirByPath(strWhole);
    if (!pDir && !strWhole.empty())
        pDir = tree.DirByPath(LexicalPath(strWhole));
    if (!pDir)
        PrintError("'" + strPath + "' is no folder of the catalog '" + cmd.operands[0] + "'");
    return pDir;
}

// A folder's name as listed: below its parent, or a top's whole path.
std::string ListedName(const TreeDir& dir, const TreeDir* pParent) {
    return pParent ? NameBelow(dir, *pParent) : NormalPath(dir.strPath);
}

// The folders right below dir with their names, by name; with bArchives
// the archives among its files that open as folders too ("x.zip//").
std::vector<std::pair<std::string, const TreeDir*>>
SubfoldersByName(const CatalogTree& tree, const TreeDir& dir, bool bArchives = false) {
    std::vector<std::pair<std::string, const TreeDir*>> subfolders;
    for (const TreeDir* pSub : tree.Subdirectories(dir.nId))
        subfolders.emplace_back(ListedName(*pSub, &dir), pSub);
    if (bArchives)
        for (const TreeDir* pArchive : tree.Archives(dir.nId))
            subfolders.emplace_back(ListedName(*pArchive, &dir), pArchive);
    std::sort(subfolders.begin(), subfolders.end());
    return subfolders;
}

// A size as "du -h" writes it: powers of 1024 rounded up, one decimal below 10.
std::string HumanSize(ByteTotal nBytes) {
    static const char kUnits[] = "KMGTPEZY";
    if (nBytes < 1024)
        return DecimalText(nBytes);
    size_t nUnit = 0;
    ByteTotal nScale = 1024;
    while (nUnit + 1 < sizeof kUnits - 1 && nBytes / nScale >= 1024) {
        nScale *= 1024;
        ++nUnit;
    }
    const ByteTotal nTenths = (nBytes * 10 + nScale - 1) / nScale;
    if (nTenths < 100)
        return DecimalText(nTenths / 10) + "." + DecimalText(nTenths % 10) + kUnits[nUnit];
    const ByteTotal nWhole = (nBytes + nScale - 1) / nScale;
    if (nWhole >= 1024 && nUnit + 1 < sizeof kUnits - 1)
        return std::string("1.0") + kUnits[nUnit + 1];
    return DecimalText(nWhole) + kUnits[nUnit];
}

// Runs a browsing command on the catalog of its first operand.
int Browse(const CommandLine& cmd, const char* pszUsage,
           const std::function<void(OutputWriter&, Database&, const CatalogTree&, const TreeDir&)>&
               fnShow) {
    if (cmd.operands.empty() || cmd.operands.size() > 2)
        return Fail(kExitUsage, pszUsage);
    OutputWriter out;
    try {
        Database database;
        OpenCatalogForSearch(database, DataFolder(), cmd.operands[0]);
        const CatalogTree tree(database);
        const TreeDir* pDir = ChosenFolder(database, tree, cmd);
        if (!pDir)
            return kExitFailed;
        fnShow(out, database, tree, *pDir);
        out.Flush();
        return kExitOk;
    } catch (const EngineError& error) {
        return EngineFailure(out, error);
    }
}

} // namespace

int RunLsCommand(const CommandLine& cmd) {
    OutputFormat format;
    if (!ParseFormatOption(cmd, format))
        return kExitUsage;
    return Browse(
        cmd, "ls takes ENTRY and an optional PATH (see kestrel-cli ls --help)",
        [&](OutputWriter& out, Database&, const CatalogTree& tree, const TreeDir& dir) {
            const bool bLong = cmd.Has("-l") || format != OutputFormat::Tsv;
            std::vector<RecordField> fields = {{"name", true}};
            if (bLong)
                fields.insert(fields.begin(), {{"kind"}, {"size"}, {"mtime"}, {"md5"}, {"mode"}});
            RecordWriter records(out.Sink(), format, fields);
            auto write = [&](const std::string& strName, const char* pszKind, RecordValue size,
                             RecordValue mtime, RecordValue checksum,
                             std::optional<uint32_t> nMode) {
                if (bLong)
                    records.Write({std::string_view(pszKind), size, mtime, checksum,
                                   TextValue(ModeText(nMode)), std::string_view(strName)});
                else
                    records.Write({std::string_view(strName)});
            };
            // A folder's own time where the catalog holds it, else that of
            // the newest file below it.
            for (const auto& [strName, pSub] : SubfoldersByName(tree, dir))
                write(strName, EntryKind(pSub->nMode, true), CountValue(pSub->totals.nBytes),
                      TimeValue(pSub->nMtimeNs ? pSub->nMtimeNs : pSub->totals.nNewestMtimeNs),
                      RecordValue(), pSub->nMode);
            std::vector<TreeFile> files = tree.Files(dir.nId);
            std::sort(files.begin(), files.end(),
                      [](const TreeFile& a, const TreeFile& b) { return a.strName < b.strName; });
            for (const TreeFile& file : files)
                write(file.strName, file.nFolderId ? "archive" : EntryKind(file.nMode, false),
                      NumberValue(file.nSize), TimeValue(file.nMtimeNs), TextValue(file.checksum),
                      file.nMode);
            records.WriteHeader(); // also for an empty folder
        });
}

int RunTreeCommand(const CommandLine& cmd) {
    std::optional<uint64_t> nDepth;
    if (!ReadCountOption(cmd, "--depth", UINT32_MAX, nDepth))
        return kExitUsage;
    const bool bArchives = cmd.Has("--archives");
    return Browse(cmd, "tree takes ENTRY and an optional PATH (see kestrel-cli tree --help)",
                  [&](OutputWriter& out, Database&, const CatalogTree& tree, const TreeDir& top) {
                      // Depth first, each folder's subfolders by name; a stack, not
                      // recursion, for trees of any depth.
                      struct Step {
                          const TreeDir* pDir;
                          const TreeDir* pParent;
                          uint64_t nLevel;
                      };
                      std::vector<Step> stack = {{&top, nullptr, 0}};
                      std::string strLine;
                      while (!stack.empty()) {
                          const Step step = stack.back();
                          stack.pop_back();
                          const TreeTotals& totals = step.pDir->totals;
                          strLine.assign(2 * step.nLevel, ' ');
                          AppendTsvField(strLine, ListedName(*step.pDir, step.pParent));
                          strLine += (!strLine.empty() && strLine.back() == '/' ? " (" : "/ (") +
                                     HumanSize(totals.nBytes) + " in " +
                                     std::to_string(totals.nFiles) +
                                     (totals.nFiles == 1 ? " file)\n" : " files)\n");
                          out.Write(strLine);
                          if (nDepth && step.nLevel >= *nDepth)
                              continue;
                          const auto subdirectories = SubfoldersByName(tree, *step.pDir, bArchives);
                          for (auto it = subdirectories.rbegin(); it != subdirectories.rend();
                               ++it) // the first on top
                              stack.push_back({it->second, step.pDir, step.nLevel + 1});
                      }
                  });
}

int RunDuCommand(const CommandLine& cmd) {
    std::optional<uint64_t> nDepth, nTop;
    if (!ReadCountOption(cmd, "--depth", UINT32_MAX, nDepth) ||
        !ReadCountOption(cmd, "--top", UINT64_MAX, nTop))
        return kExitUsage;
    const auto sort = cmd.values.find("--sort");
    if (sort != cmd.values.end() && sort->second != "size" && sort->second != "name")
        return Fail(kExitUsage, "--sort takes size or name");
    return Browse(cmd, "du takes ENTRY and an optional PATH (see kestrel-cli du --help)",
                  [&](OutputWriter& out, Database&, const CatalogTree& tree, const TreeDir& top) {
                      // Deepest first: each folder after the folders below it, as du lists them.
                      std::vector<const TreeDir*> shown;
                      std::vector<std::pair<const TreeDir*, uint64_t>> stack = {{&top, 0}};
                      while (!stack.empty()) {
                          const auto [pDir, nLevel] = stack.back();
                          stack.pop_back();
                          shown.push_back(pDir);
                          // Totals are the folders' own: nothing below the
                          // depth shown needs reading.
                          if (nDepth && nLevel >= *nDepth)
                              continue;
                          for (const auto& sub : SubfoldersByName(tree, *pDir))
                              stack.emplace_back(sub.second, nLevel + 1);
                      }
                      // A walk that puts each folder before those below it (the
                      // last by name first), backwards: subfolders by name, each
                      // after the folders below it.
                      std::reverse(shown.begin(), shown.end());
                      auto bySize = [](const TreeDir* a, const TreeDir* b) {
                          return a->totals.nBytes != b->totals.nBytes
                                     ? a->totals.nBytes > b->totals.nBytes
                                     : a->strPath < b->strPath;
                      };
                      if (nTop || (sort != cmd.values.end() && sort->second == "size"))
                          std::stable_sort(shown.begin(), shown.end(), bySize);
                      if (nTop && *nTop < shown.size())
                          shown.resize(*nTop);
                      if (sort != cmd.values.end() && sort->second == "name")
                          std::stable_sort(shown.begin(), shown.end(),
                                           [](const TreeDir* a, const TreeDir* b) {
                                               return a->strPath < b->strPath;
                                           });
                      std::string strLine;
                      for (const TreeDir* pDir : shown) {
                          strLine = cmd.Has("-h") ? HumanSize(pDir->totals.nBytes)
                                                  : DecimalText(pDir->totals.nBytes);
                          strLine += '\t';
                          AppendTsvField(strLine, pDir->strPath);
                          strLine += '\n';
                          out.Write(strLine);
                      }
                  });
}
