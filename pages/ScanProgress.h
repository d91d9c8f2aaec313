// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class QWidget;
struct ScanJob;

// Runs a scan job on a worker thread while the "Please wait..." window runs
// modally on pOwner's window; returns when the job has ended and its worker
// is joined. The job's fnOnEnd is taken for ending the window.
void RunScanJobModal(QWidget* pOwner, ScanJob& job);
