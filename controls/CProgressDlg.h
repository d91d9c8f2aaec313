#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <atomic>

class CTextProgressCtrl;

// The window shown while a catalog is built: a borderless strip with an
// endless "Please wait..." animation. It runs modally until Finish is
// called; Escape and Close do not end it.
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

    // Where the window is put, in screen coordinates: the top left of the
    // owner's client area, below its menu bar.
    static QPoint ClientOrigin(const QWidget& owner);

protected:
    void reject() override {} // Escape and Close do not end it
    void closeEvent(QCloseEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;

private:
    void OnFinish();

    CTextProgressCtrl* m_progress;
    QBasicTimer m_timer;
    std::atomic<bool> m_bFinishRequested{false};
};

// The progress window the Create page runs now, null when none runs.
extern CProgressDlg* g_pProgressDlg;
