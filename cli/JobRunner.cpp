// SPDX-License-Identifier: GPL-3.0-or-later

#include "cli/JobRunner.h"

#include "cli/CommandLine.h"
#include "cli/Output.h"
#include "scan/ScanJob.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// The signal that asked the walk to stop, 0 while none came.
volatile std::sig_atomic_t g_nStopSignal = 0;

void OnStopSignal(int nSignal) {
    g_nStopSignal = nSignal;
}

} // namespace

// Ctrl-C and kill ask the walk to stop: what was walked is committed and
// the catalog closed. A second signal ends the program at once (the catalog
// is then put right by the next program that reads it).
void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int StopSignal() {
    return g_nStopSignal;
}

bool PollUnlessStopped(int fd, short events) {
    // A signal that came after the flag was read but before poll began would
    // not end the wait: the signals stay blocked up to ppoll, which lets them
    // in only while it waits.
    sigset_t stops, before;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stops, &before);
    sigset_t during = before;
    sigdelset(&during, SIGINT);
    sigdelset(&during, SIGTERM);
    pollfd watched{fd, events, 0};
    int nReady = 0;
    while (g_nStopSignal == 0 && (nReady = ::ppoll(&watched, 1, nullptr, &during)) < 0 &&
           errno == EINTR) {
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return g_nStopSignal == 0 && nReady > 0 && (watched.revents & (events | POLLERR)) != 0;
}

JobRun RunScanJob(ScanJob& job, const std::function<bool()>& fnStop) {
    std::mutex mutex;
    std::condition_variable cv;
    bool bEnded = false;
    job.fnOnEnd = [&] {
        std::lock_guard lock(mutex);
        bEnded = true;
        cv.notify_all();
    };
    CatchStopSignals();
    const auto tStart = std::chrono::steady_clock::now();
    std::thread worker(ScanThreadProc, &job);
    {
        ProgressLine progress;
        std::unique_lock lock(mutex);
        while (!cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return bEnded; })) {
            if (g_nStopSignal != 0 || (fnStop && !job.bStopRequested && fnStop()))
                job.bStopRequested = true;
            if (progress.IsDue())
                progress.Show(std::to_string(job.progress.nDirs.load()) + " directories, " +
                              std::to_string(job.progress.nFiles.load()) + " files");
        }
        progress.Clear();
    }
    worker.join();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - tStart;
    return {elapsed.count(), job.outcome.bStopped ? static_cast<int>(g_nStopSignal) : 0};
}

void WriteJobSummary(std::string strLine, const ScanJob& job) {
    strLine += ScanNotesText(job);
    strLine += '\n';
    OutputWriter out;
    out.Write(strLine);
    out.Flush();
}

int StoppedExitStatus(int nSignal) {
    return 128 + (nSignal != 0 ? nSignal : SIGINT);
}

std::string StoppedByText(int nSignal) {
    return std::string("stopped by ") + (nSignal == SIGTERM ? "SIGTERM" : "SIGINT");
}

CatalogLock::Wait WaitForOtherWriter(const std::string& strCatalogPath) {
    CatalogLock::Wait wait;
    wait.bWait = true;
    wait.fnWaiting = [strCatalogPath] {
        if (::isatty(STDERR_FILENO))
            PrintError("waiting for another program writing " + strCatalogPath +
                       " to finish (Ctrl-C gives up)");
    };
    return wait;
}
