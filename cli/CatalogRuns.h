// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "scan/CatalogUpdate.h"
#include "search/RecordWriter.h"

#include <functional>
#include <string>
#include <vector>

// Why an update or a verify run should stop now ("its volume went away"), or
// empty to go on.
using StopReason = std::function<std::string()>;

// Brings the catalog of the list entry strEntry up to date as
// 'kestrel-cli update' does, hashing on nJobs threads (0: the default), and
// prints its summary line on standard output, or on standard error why it
// could not be updated or was stopped. SIGINT, SIGTERM and fnStop (asked
// every tenth of a second) stop it; the catalog stays exactly as it was
// unless the update completed. The exit status of update: 0 when updated, 1
// when it could not be or fnStop stopped it, 130 or 143 when a signal did.
int UpdateCatalogOfEntry(const std::string& strEntry, const UpdateOptions& options, unsigned nJobs,
                         const StopReason& fnStop = {});

// How VerifyCatalogsOfEntries checks and tells.
struct VerifySettings {
    OutputFormat format = OutputFormat::Tsv;
    // Put before the summary line: "Photos: ".
    std::string strSummaryLead;
    // Asked before each file; a reason ends the check without a summary.
    StopReason fnStop;
};

// Checks every file of the catalogs of entries as 'kestrel-cli verify' does,
// where each catalog's volume is mounted now: prints each file (by its
// stored path) that changed, is not found or cannot be read, then one
// summary of them all (on standard error with csv and json). A catalog whose
// disk is absent is not checked; one message names the disk. The exit
// status of verify: 0 when nothing changed, vanished or could not be read,
// 1 otherwise or when stopped, 2 on an engine error.
int VerifyCatalogsOfEntries(const std::vector<std::string>& entries,
                            const VerifySettings& settings);
