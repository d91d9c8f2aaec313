// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <atomic>
#include <cstdint>
#include <functional>

class CTextProgressCtrl;

// The window shown while a catalog is built: a borderless strip with an
// endless "Please wait..." animation, and the folders and files counted so
// far when it is given counts to show. It runs modally until Finish is
// called. Escape and Close end nothing by themselves: they call the stop
// question when one is set (which may ask the build to stop).
class CProgressDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int IDD = 137;
    static constexpr int IDC_PROGRESS = 1025;
    static constexpr int IDCANCEL = 2;
    static constexpr int kTimerMs = 80;

    // pOwner is the window the strip lies on, at ClientOrigin.
    explicit CProgressDlg(QWidget* pOwner = nullptr);

    // Runs the window until Finish; returns IDCANCEL. When Finish came
    // before, returns at once without showing it.
    int DoModal();
    // Ends the modal run. May be called from any thread, before the run has
    // begun (it then ends as soon as it begins) or during it. The caller
    // must not let the object be destroyed while a call is under way.
    void Finish();

    CTextProgressCtrl& Progress() const { return *m_progress; }

    // Counts the strip shows beside "Please wait...", read on each step of
    // the animation (written by another thread); they must outlive the run.
    void ShowCounts(const std::atomic<uint64_t>* pFolders, const std::atomic<uint64_t>* pFiles);
    // Called on Escape or Close while the window runs: asks whether to stop.
    void SetStopQuestion(std::function<void()> fnAsk) { m_fnAskStop = std::move(fnAsk); }

    // Where the window is put, in screen coordinates: the top left of the
    // owner's client area, below its menu bar.
    static QPoint ClientOrigin(const QWidget& owner);

protected:
    void reject() override; // Escape: the stop question, if any
    void showEvent(QShowEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;

private:
    void OnFinish();
    void AskStop();
    void ShowCountsNow();
    void FitOwner();

    CTextProgressCtrl* m_progress;
    QBasicTimer m_timer;
    std::atomic<bool> m_bFinishRequested{false};
    const std::atomic<uint64_t>* m_pFolders = nullptr;
    const std::atomic<uint64_t>* m_pFiles = nullptr;
    std::function<void()> m_fnAskStop;
    bool m_bAsking = false;
};

// The progress window the Create page runs now, null when none runs.
extern CProgressDlg* g_pProgressDlg;
