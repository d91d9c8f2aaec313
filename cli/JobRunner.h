// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/CatalogLock.h"

#include <functional>
#include <string>

struct ScanJob;

// How a job run in the foreground ended.
struct JobRun {
    double dSeconds = 0;
    int nStopSignal = 0; // SIGINT or SIGTERM when one asked the walk to stop, else 0
};

// Runs the job on a worker thread and waits for its end, with a live count
// on standard error when it is a terminal. SIGINT and SIGTERM ask the walk to
// stop (what was walked is kept); a second one ends the program at once.
// fnStop, when given, is asked every tenth of a second whether to stop the
// walk as well.
JobRun RunScanJob(ScanJob& job, const std::function<bool()>& fnStop = {});

// Catches SIGINT and SIGTERM as RunScanJob does, for a command that waits
// between jobs: the first asks to stop (StopSignal tells it), a second ends
// the program at once.
void CatchStopSignals();
// The signal (SIGINT or SIGTERM) that asked to stop, 0 while none came.
int StopSignal();
// Waits without end until fd reports one of events (as poll does), unless a
// stop signal came before the call or comes meanwhile. True when fd is
// ready; false when a stop signal came or fd cannot be polled.
bool PollUnlessStopped(int fd, short events);

// Writes a job's summary line on standard output: strLine, then how many
// directories could not be read completely, if any.
void WriteJobSummary(std::string strLine, const ScanJob& job);

// The exit status for a run stopped by nSignal: 128 + the signal's number.
int StoppedExitStatus(int nSignal);
// How such a run is told: "stopped by SIGTERM" or "stopped by SIGINT" (also
// for no signal, as the exit status has it).
std::string StoppedByText(int nSignal);

// How kestrel-cli takes a catalog's writer lock: it waits for the program
// that holds it, and says so on standard error when that is a terminal.
CatalogLock::Wait WaitForOtherWriter(const std::string& strCatalogPath);
