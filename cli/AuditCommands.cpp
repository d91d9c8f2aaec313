// SPDX-License-Identifier: GPL-3.0-or-later

#include "audit/Diff.h"
#include "audit/Duplicates.h"
#include "audit/Verify.h"
#include "catalog/CatalogInfo.h"
#include "catalog/DataFolder.h"
#include "catalog/Database.h"
#include "catalog/EngineError.h"
#include "cli/CatalogRuns.h"
#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/Output.h"
#include "search/CatalogOpen.h"
#include "search/DatabaseList.h"
#include "search/RecordWriter.h"
#include "search/SearchFilter.h"
#include "search/SearchMessages.h"
#include "volume/VolumeLocator.h"

#include <memory>

namespace {

std::string Plural(uint64_t n, const char* pszOne, const char* pszMany) {
    return std::to_string(n) + " " + (n == 1 ? pszOne : pszMany);
}

// Said when only one of the catalogs read the members of its archives: the
// other tells nothing of what is inside them, so they are not compared.
void NoteMembersOnOneSide(MemberSides sides) {
    if (sides == MemberSides::OneOnly)
        PrintNote("Members of archives are left out: only one of the catalogs holds them, and "
                  "they are compared only when both were made with --archives\n");
}

} // namespace

int RunDiffCommand(const CommandLine& cmd) {
    OutputFormat format;
    if (!ParseFormatOption(cmd, format))
        return kExitUsage;
    OutputWriter out;
    if (cmd.operands.size() != 2)
        return Fail(kExitUsage, "diff takes two catalogs, OLD and NEW (see kestrel-cli list)");
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
            std::string strNote = Plural(counts.nCopied, "file has", "files have") + " a copy in " +
                                  cmd.operands[1] + ", " + Plural(counts.nMissing, "has", "have") +
                                  " none, " + Plural(counts.nNotComparable, "has", "have") +
                                  " no checksum to compare";
            if (counts.memberSides == MemberSides::Both)
                strNote += "; " + Plural(counts.nMembersCopied, "member has", "members have") +
                           " a copy, " + Plural(counts.nMembersMissing, "has", "have") + " none, " +
                           Plural(counts.nMembersNotComparable, "has", "have") + " no checksum";
            PrintNote(strNote + "\n");
            NoteMembersOnOneSide(counts.memberSides);
            return counts.nMissing + counts.nNotComparable + counts.nMembersMissing +
                               counts.nMembersNotComparable ==
                           0
                       ? kExitOk
                       : kExitDiffers;
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
        std::string strNote = "files: " + std::to_string(counts.nFilesAdded) + " added, " +
                              std::to_string(counts.nFilesDeleted) + " deleted, " +
                              std::to_string(counts.nFilesModified) +
                              " modified; directories: " + std::to_string(counts.nDirsAdded) +
                              " added, " + std::to_string(counts.nDirsDeleted) + " deleted";
        if (counts.memberSides == MemberSides::Both)
            strNote += "; members of archives: " + std::to_string(counts.nMembersAdded) +
                       " added, " + std::to_string(counts.nMembersDeleted) + " deleted, " +
                       std::to_string(counts.nMembersModified) + " modified";
        PrintNote(strNote + "\n");
        NoteMembersOnOneSide(counts.memberSides);
        return counts.Total() == 0 ? kExitOk : kExitDiffers;
    } catch (const EngineError& error) {
        return EngineFailure(out, error);
    }
}

int RunDuplicatesCommand(const CommandLine& cmd) {
    OutputFormat format;
    if (!ParseFormatOption(cmd, format))
        return kExitUsage;
    OutputWriter out;
    int64_t nMinSize = 0;
    if (auto it = cmd.values.find("--min-size"); it != cmd.values.end()) {
        const std::optional<int64_t> nBytes = ParseSize(it->second);
        if (!nBytes)
            return Fail(kExitUsage,
                        "--min-size takes a whole number with an optional unit b, k, M, G or T: '" +
                            it->second + "'");
        nMinSize = *nBytes;
    }
    try {
        const std::string strApp = DataFolder();
        std::vector<std::string> entries = cmd.operands;
        if (entries.empty()) {
            entries = LoadDatabaseList(strApp);
            if (entries.empty())
                return Fail(kExitError, kMsgNoDatabases);
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
        return nGroups == 0 ? kExitNoMatch : kExitOk;
    } catch (const EngineError& error) {
        return EngineFailure(out, error);
    }
}

int VerifyCatalogsOfEntries(const std::vector<std::string>& entries,
                            const VerifySettings& settings) {
    const OutputFormat format = settings.format;
    OutputWriter out;
    RecordWriter records(out.Sink(), format, {{"path", true}, {"result"}, {"catalog", true}});
    ProgressLine progress;
    VerifyCounts counts;
    VerifyCounts memberCounts; // of the members of archives, when a catalog holds them
    bool bMembers = false;
    uint64_t nSeen = 0;
    std::string strLine;
    uint64_t nAbsent = 0; // catalogs whose disk is not plugged in
    std::string strStopReason;
    const auto fnStop = [&] {
        if (settings.fnStop)
            strStopReason = settings.fnStop();
        return !strStopReason.empty();
    };
    try {
        const std::string strApp = DataFolder();
        const MountedVolumes mounted;
        for (const std::string& strEntry : entries) {
            Database database;
            OpenCatalogForSearch(database, strApp, strEntry);
            const CatalogInfo info = ReadCatalogInfo(database, false);
            const VolumeLocation location = mounted.Locate(info);
            const std::string strStart = info.strStartDir.value_or("");
            // Every file of a disk that is not there would read "not found":
            // the disk to fetch is said instead.
            if (!location.bOnline && !VolumeName(info.volume).empty()) {
                if (format != OutputFormat::Tsv)
                    records.Write({std::string_view(strStart), std::string_view("disk absent"),
                                   std::string_view(strEntry)});
                out.Flush();
                PrintError("Not checked: " + AbsentVolumeText(strStart, strEntry, info));
                ++nAbsent;
                continue;
            }
            // Checked there, another volume's files would pass for the disk's.
            if (location.LeadsOffVolume(location.PathNow(strStart))) {
                if (format != OutputFormat::Tsv)
                    records.Write({std::string_view(strStart), std::string_view("disk elsewhere"),
                                   std::string_view(strEntry)});
                out.Flush();
                PrintError("Not checked: the start directory " +
                           OffVolumeText(strStart, strEntry, info, location));
                ++nAbsent;
                continue;
            }
            const auto fnReport = [&](const std::string& strPath, VerifyResult result) {
                counts.Add(result);
                const char* pszWhat = result == VerifyResult::Changed       ? "changed"
                                      : result == VerifyResult::NotFound    ? "not found"
                                      : result == VerifyResult::NotReadable ? "not readable"
                                                                            : nullptr;
                if (pszWhat && format != OutputFormat::Tsv) {
                    records.Write({std::string_view(strPath), std::string_view(pszWhat),
                                   std::string_view(strEntry)});
                } else if (pszWhat) {
                    strLine = "File '";
                    AppendTsvField(strLine, strPath);
                    strLine += result == VerifyResult::Changed    ? "' was changed\n"
                               : result == VerifyResult::NotFound ? "' not found\n"
                                                                  : "' cannot be read\n";
                    out.Write(strLine);
                }
                ++nSeen;
                if (progress.IsDue()) {
                    out.Flush(); // the lines so far come before the count
                    progress.Show(std::to_string(nSeen) + " files checked");
                }
            };
            // A member's line names it in the member form; the members of an
            // archive that was not read again are only counted: the archive's
            // own line tells why.
            const auto fnMembers = [&](const MemberCheck& check) {
                bMembers = true;
                memberCounts.Add(check.result, check.nMembers);
                const char* pszWhat = check.result == VerifyResult::Changed       ? "changed"
                                      : check.result == VerifyResult::NotFound    ? "not found"
                                      : check.result == VerifyResult::NotReadable ? "not readable"
                                                                                  : nullptr;
                if (!pszWhat || !check.bRead)
                    return;
                if (format != OutputFormat::Tsv) {
                    records.Write(
                        {check.path, std::string_view(pszWhat), std::string_view(strEntry)});
                    return;
                }
                strLine = "Member '";
                AppendTsvField(strLine, check.path);
                strLine += check.result == VerifyResult::Changed    ? "' was changed\n"
                           : check.result == VerifyResult::NotFound ? "' not found\n"
                                                                    : "' cannot be read\n";
                out.Write(strLine);
            };
            if (!VerifyCatalog(database, fnReport, location, fnStop, fnMembers)) {
                progress.Clear();
                out.Flush();
                return Fail(kExitDiffers, strStopReason + ": the check of " + strEntry +
                                              " ended before its last file");
            }
        }
        records.WriteHeader(); // also when no file is listed
    } catch (const EngineError& error) {
        progress.Clear();
        return EngineFailure(out, error);
    }
    progress.Clear();
    const auto countsText = [](const VerifyCounts& c) {
        return std::to_string(c.nUnchanged) + " unchanged, " + std::to_string(c.nChanged) +
               " changed, " + std::to_string(c.nNotFound) + " not found, " +
               std::to_string(c.nNotReadable) + " not readable, " + std::to_string(c.nNotChecked) +
               " not checked";
    };
    std::string strSummary = settings.strSummaryLead + countsText(counts);
    if (bMembers)
        strSummary += "; members of archives: " + countsText(memberCounts);
    strSummary += '\n';
    if (format == OutputFormat::Tsv) {
        out.Write(strSummary);
        out.Flush();
    } else {
        out.Flush();
        PrintNote(strSummary);
    }
    return counts.AllPresent() && memberCounts.AllPresent() && nAbsent == 0 ? kExitOk
                                                                            : kExitDiffers;
}

int RunVerifyCommand(const CommandLine& cmd) {
    VerifySettings settings;
    if (!ParseFormatOption(cmd, settings.format))
        return kExitUsage;
    if (cmd.operands.empty())
        return Fail(kExitUsage, "verify takes one or more ENTRY (see kestrel-cli list)");
    return VerifyCatalogsOfEntries(cmd.operands, settings);
}
