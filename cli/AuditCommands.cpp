#include "cli/AuditCommands.h"

#include "audit/Diff.h"
#include "audit/Duplicates.h"
#include "catalog/CatalogInfo.h"
#include "catalog/DataFolder.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "cli/CommandLine.h"
#include "cli/Output.h"
#include "search/CatalogOpen.h"
#include "search/DatabaseList.h"
#include "search/RecordWriter.h"
#include "search/SearchFilter.h"
#include "search/SearchMessages.h"

#include <memory>

namespace {

const char* const kDiffHelp =
    "Usage: kestrel-cli diff [--content] [--format tsv|csv|json] OLD NEW\n"
    "\n"
    "Compares two catalogs (list entries) by each file's path below its\n"
    "catalog's start directory, so a disk mounted elsewhere, or a backup in\n"
    "another folder, compares by what is inside. One line a difference, as git\n"
    "diff --name-status writes them: A (only in NEW), D (only in OLD) or M\n"
    "(another size, or both have checksums and they differ), a tab, the path.\n"
    "Directories on one side only are listed with a trailing '/'. A summary goes\n"
    "to standard error.\n"
    "\n"
    "  --content  answer instead: is everything of OLD somewhere in NEW? Prints\n"
    "             the full path of each file of OLD that has no file of the\n"
    "             same size and checksum anywhere in NEW. Files of OLD without\n"
    "             a checksum are counted apart: they are never called safe.\n"
    "  --format   tsv (default), csv or json (status, path, type, old_size,\n"
    "             new_size; with --content: path, size)\n"
    "\n"
    "Exit status: 0 when nothing differs (with --content: every file of OLD has\n"
    "a copy in NEW), 1 when something does, 2 on an error.\n";

const char* const kDuplicatesHelp =
    "Usage: kestrel-cli duplicates [--min-size SIZE] [--format tsv|csv|json]\n"
    "                              [ENTRY...]\n"
    "\n"
    "Finds files with the same size and the same checksum across the named\n"
    "catalogs (all listed ones by default). Each group's files are printed as\n"
    "search hits (path, size, checksum, catalog), groups separated by an empty\n"
    "line, the group that wastes the most bytes first. A summary on standard\n"
    "error tells the groups, the files, and the bytes that keeping one copy of\n"
    "each would free. Files without a checksum are never called duplicates;\n"
    "empty files free nothing and are left out.\n"
    "\n"
    "  --min-size SIZE  leave out files smaller than SIZE (a whole number with\n"
    "                   an optional unit b, k, M, G, T: powers of 1024)\n"
    "  --format         tsv (default), csv or json (group, path, size, md5,\n"
    "                   catalog)\n"
    "\n"
    "Exit status: 0 when there are duplicates, 1 when there are none, 2 on an\n"
    "error.\n";

std::string Plural(uint64_t n, const char* pszOne, const char* pszMany) {
    return std::to_string(n) + " " + (n == 1 ? pszOne : pszMany);
}

} // namespace

int RunDiffCommand(const std::vector<std::string>& args) {
    CommandLine cmd;
    OutputFormat format = OutputFormat::Tsv;
    if (const int nExit = ParseCommand(args, kDiffHelp, {"--content"}, {}, cmd, format); nExit >= 0)
        return nExit;
    OutputWriter out;
    if (cmd.operands.size() != 2) {
        PrintError("diff takes two catalogs, OLD and NEW (see kestrel-cli list)");
        return kExitUsage;
    }
    try {
        const std::string strApp = DataFolder();
        Database oldDb, newDb;
        OpenCatalogForSearch(oldDb, strApp, cmd.operands[0]);
        OpenCatalogForSearch(newDb, strApp, cmd.operands[1]);
        if (cmd.Has("--content")) {
            RecordWriter records(out.Sink(), format,
                                 {{"path", true}, {.pszName = "size", .bInTsv = false}});
            const ContentCounts counts =
                CheckContentCopied(oldDb, newDb, [&](const std::string& strPath, int64_t nSize) {
                    records.Write({std::string_view(strPath),
                                   NumberValue(nSize >= 0 ? std::optional(nSize) : std::nullopt)});
                });
            records.WriteHeader(); // also when every file has a copy
            out.Flush();
            PrintNote(Plural(counts.nCopied, "file has", "files have") + " a copy in " +
                      cmd.operands[1] + ", " + Plural(counts.nMissing, "has", "have") + " none, " +
                      Plural(counts.nNotComparable, "has", "have") + " no checksum to compare\n");
            return counts.nMissing + counts.nNotComparable == 0 ? kExitOk : kExitFailed;
        }
        RecordWriter records(out.Sink(), format,
                             {{"status"},
                              {"path", true},
                              {.pszName = "type", .bInTsv = false},
                              {.pszName = "old_size", .bInTsv = false},
                              {.pszName = "new_size", .bInTsv = false}});
        const DiffCounts counts = DiffCatalogs(oldDb, newDb, false, [&](const DiffLine& line) {
            records.Write({std::string_view(&line.cStatus, 1), std::string_view(line.strPath),
                           std::string_view(line.bDirectory ? "directory" : "file"),
                           NumberValue(line.nOldSize), NumberValue(line.nNewSize)});
        });
        records.WriteHeader(); // also when nothing differs
        out.Flush();
        PrintNote("files: " + std::to_string(counts.nFilesAdded) + " added, " +
                  std::to_string(counts.nFilesDeleted) + " deleted, " +
                  std::to_string(counts.nFilesModified) +
                  " modified; directories: " + std::to_string(counts.nDirsAdded) + " added, " +
                  std::to_string(counts.nDirsDeleted) + " deleted\n");
        return counts.Total() == 0 ? kExitOk : kExitFailed;
    } catch (const EngineError& error) {
        return EngineFailure(out, error);
    }
}

int RunDuplicatesCommand(const std::vector<std::string>& args) {
    CommandLine cmd;
    OutputFormat format = OutputFormat::Tsv;
    if (const int nExit = ParseCommand(args, kDuplicatesHelp, {}, {"--min-size"}, cmd, format);
        nExit >= 0)
        return nExit;
    OutputWriter out;
    int64_t nMinSize = 0;
    if (auto it = cmd.values.find("--min-size"); it != cmd.values.end()) {
        const std::optional<int64_t> nBytes = ParseSize(it->second);
        if (!nBytes) {
            PrintError("--min-size takes a whole number with an optional unit b, k, M, G or T: '" +
                       it->second + "'");
            return kExitUsage;
        }
        nMinSize = *nBytes;
    }
    try {
        const std::string strApp = DataFolder();
        std::vector<std::string> entries = cmd.operands;
        if (entries.empty()) {
            entries = LoadDatabaseList(strApp);
            if (entries.empty()) {
                PrintError(kMsgNoDatabases);
                return kExitUsage;
            }
        }
        const std::vector<std::unique_ptr<Database>> catalogs =
            OpenCatalogsForSearch(strApp, entries);
        RecordWriter records(out.Sink(), format,
                             {{.pszName = "group", .bInTsv = false},
                              {"path", true},
                              {"size"},
                              {"md5"},
                              {"catalog", true}});
        uint64_t nGroups = 0, nFiles = 0;
        ByteTotal nWaste = 0;
        FindDuplicates(catalogs, nMinSize, [&](const DuplicateGroup& group) {
            if (nGroups++ > 0)
                records.WriteSeparator();
            for (const DuplicateGroup::Member& member : group.members)
                records.Write({static_cast<int64_t>(nGroups), std::string_view(member.strPath),
                               group.nSize, std::string_view(group.strChecksum),
                               std::string_view(entries[member.nCatalog])});
            nFiles += group.members.size();
            nWaste += group.Waste();
        });
        records.WriteHeader(); // also when there are no duplicates
        out.Flush();
        PrintNote(Plural(nGroups, "group", "groups") + " of duplicates, " +
                  Plural(nFiles, "file", "files") + "; keeping one copy of each would free " +
                  ByteCountText(nWaste) + "\n");
        return nGroups == 0 ? kExitFailed : kExitOk;
    } catch (const EngineError& error) {
        return EngineFailure(out, error);
    }
}
