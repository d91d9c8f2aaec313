// SPDX-License-Identifier: GPL-3.0-or-later

#include "pages/ScanProgress.h"

#include "app/Desktop.h"
#include "controls/CProgressDlg.h"
#include "scan/ScanJob.h"

#include <QWidget>
#include <thread>

void RunScanJobModal(QWidget* pOwner, ScanJob& job) {
    // The window exists before the worker starts, so the end of even the
    // shortest job finds it; the worker is joined before the window goes.
    CProgressDlg progress(pOwner->window());
    g_pProgressDlg = &progress;
    progress.ShowCounts(&job.progress.nDirs, &job.progress.nFiles);
    // Escape or closing the strip asks; Yes stops the walk as SIGINT stops
    // kestrel-cli: what was written stays, and the catalog says it is
    // incomplete.
    progress.SetStopQuestion([&progress, &job] {
        if (ShowMessage(&progress, "Stop building the catalog?", "Database", MessageIcon::Question,
                        MessageButtons::YesNo) == MessageAnswer::Yes)
            job.bStopRequested = true;
    });
    job.fnOnEnd = [pProgress = &progress] { pProgress->Finish(); };
    std::thread worker(ScanThreadProc, &job);
    progress.DoModal();
    worker.join();
    g_pProgressDlg = nullptr; // it goes with this call
}
