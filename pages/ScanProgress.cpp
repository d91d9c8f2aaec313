#include "pages/ScanProgress.h"

#include "controls/CProgressDlg.h"
#include "scan/ScanJob.h"

#include <QWidget>
#include <thread>

void RunScanJobModal(QWidget* pOwner, ScanJob& job) {
    // The window exists before the worker starts, so the end of even the
    // shortest job finds it; the worker is joined before the window goes.
    CProgressDlg progress(pOwner->window());
    g_pProgressDlg = &progress;
    job.fnOnEnd = [pProgress = &progress] { pProgress->Finish(); };
    std::thread worker(ScanThreadProc, &job);
    progress.DoModal();
    worker.join();
    g_pProgressDlg = nullptr; // it goes with this call
}
