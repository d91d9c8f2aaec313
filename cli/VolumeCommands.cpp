// SPDX-License-Identifier: GPL-3.0-or-later

#include "catalog/DataFolder.h"
#include "catalog/EngineError.h"
#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/JobRunner.h"
#include "cli/Output.h"
#include "search/DatabaseList.h"
#include "search/RecordWriter.h"
#include "volume/CatalogVolumes.h"

namespace {

const std::vector<RecordField> kVolumeFields = {{"catalog", true},
                                                {"label", true},
                                                {"uuid"},
                                                {"file_system"},
                                                {"volume_bytes"},
                                                {"free_bytes"},
                                                {"catalogued"},
                                                {"state", true},
                                                {"note", true},
                                                {"online", false, false},
                                                {"mount_point", true, false},
                                                {"catalogued_mount_point", true, false},
                                                {"match", false, false}};

} // namespace

int RunVolumesCommand(const CommandLine& cmd) {
    OutputFormat format;
    if (!ParseFormatOption(cmd, format))
        return kExitUsage;
    const std::string strApp = DataFolder();
    std::vector<std::string> entries = cmd.operands;
    if (entries.empty())
        entries = LoadDatabaseList(strApp);
    OutputWriter out;
    RecordWriter records(out.Sink(), format, kVolumeFields);
    records.WriteHeader();
    bool bUnreadable = false;
    const MountedVolumes mounted;
    for (const CatalogVolume& volume : LocateCatalogVolumes(strApp, entries, mounted)) {
        if (!volume.strError.empty()) {
            PrintError(volume.strError);
            bUnreadable = true;
            continue;
        }
        const VolumeInfo& disk = volume.info.volume;
        const VolumeLocation& location = volume.location;
        const std::string strState = VolumeStateText(location);
        const RecordValue finished = volume.info.strFinished
                                         ? TextValue(*volume.info.strFinished)
                                         : TextValue(volume.info.strStarted.value_or(""));
        records.Write(
            {std::string_view(volume.strEntry), TextValue(disk.strLabel), TextValue(disk.strUuid),
             TextValue(disk.strFsType), CountValue(disk.nSize), CountValue(disk.nFree), finished,
             std::string_view(strState), TextValue(volume.info.strNote.value_or("")),
             location.bOnline, location.bOnline ? TextValue(location.strMountPoint) : RecordValue(),
             TextValue(location.strCataloguedMountPoint),
             location.bOnline ? RecordValue(std::string_view(VolumeMatchName(location.match)))
                              : RecordValue()});
    }
    out.Flush();
    return bUnreadable ? kExitError : kExitOk;
}

int RunNoteCommand(const CommandLine& cmd) {
    if (cmd.operands.empty() || cmd.operands.size() > 2)
        return Fail(kExitUsage, "note takes an ENTRY and, to change the note, its TEXT");
    const std::string strApp = DataFolder();
    try {
        const CatalogVolume volume = LocateCatalogVolume(strApp, cmd.operands[0], MountedVolumes());
        if (!volume.strError.empty())
            return Fail(kExitFailed, volume.strError);
        if (cmd.operands.size() == 1) {
            OutputWriter out;
            if (volume.info.strNote)
                out.Write(*volume.info.strNote + "\n");
            out.Flush();
            return volume.info.strNote ? kExitOk : kExitFailed;
        }
        WriteCatalogNote(volume.strPath, cmd.operands[1], WaitForOtherWriter(volume.strPath));
        return kExitOk;
    } catch (const EngineError& error) {
        return Fail(kExitFailed, error.Describe());
    }
}
