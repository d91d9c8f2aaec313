// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/CProgressDlg.h"

#include "controls/CTextProgressCtrl.h"
#include "controls/DialogUnits.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QTimerEvent>
#include <algorithm>
#include <string>

CProgressDlg* g_pProgressDlg = nullptr;

CProgressDlg::CProgressDlg(QWidget* pOwner)
    : QDialog(pOwner, Qt::Tool | Qt::FramelessWindowHint), m_progress(new CTextProgressCtrl(this)) {
    setObjectName("IDD_PROGRESS");
    m_progress->setObjectName("IDC_PROGRESS");
    const DialogUnits dlu(font());
    setFixedSize(dlu.Size(266, 12));
    m_progress->setGeometry(dlu.Rect(0, 0, 266, 12));

    m_timer.start(kTimerMs, this);
    m_progress->m_clrBackground = MakeColorRef(255, 255, 255);
    m_progress->m_gradientColors = {MakeColorRef(255, 255, 255), MakeColorRef(0, 0, 255)};
    m_progress->m_clrTextOverBar = MakeColorRef(0, 0, 127);
    m_progress->m_clrTextOverBackground = MakeColorRef(0, 0, 255);
    m_progress->SetTextFormat("Please wait...", PBX_TEXT_ONLY);
    m_progress->ModifyStyle(0, PBX_SNAKE | PBX_GRADIENT_ON_BAR);
}

QPoint CProgressDlg::ClientOrigin(const QWidget& owner) {
    // A window's client area begins below its menu bar, as the layout
    // assumes: the strip must not cover the menu.
    int nTop = 0;
    for (const QMenuBar* pMenuBar :
         owner.findChildren<QMenuBar*>(QString(), Qt::FindDirectChildrenOnly))
        if (pMenuBar->isVisible())
            nTop = std::max(nTop, pMenuBar->geometry().bottom() + 1);
    return owner.mapToGlobal(QPoint(0, nTop));
}

int CProgressDlg::DoModal() {
    if (m_bFinishRequested)
        return IDCANCEL;
    FitOwner();
    exec();
    return IDCANCEL;
}

// The strip lies inside its owner's client area, however small the window
// is: never wider or taller than what lies below the menu bar.
void CProgressDlg::FitOwner() {
    QWidget* pOwner = parentWidget();
    if (!pOwner)
        return;
    const DialogUnits dlu(font());
    const QSize design = dlu.Size(266, 12);
    const QPoint origin = ClientOrigin(*pOwner);
    const QPoint ownerBottomRight = pOwner->mapToGlobal(QPoint(pOwner->width(), pOwner->height()));
    const int nWidth = std::clamp(ownerBottomRight.x() - origin.x(), 1, design.width());
    const int nHeight = std::clamp(ownerBottomRight.y() - origin.y(), 1, design.height());
    setFixedSize(nWidth, nHeight);
    m_progress->setGeometry(0, 0, nWidth, nHeight);
    move(origin);
}

void CProgressDlg::ShowCountsNow() {
    if (!m_pFolders || !m_pFiles)
        return;
    const std::string strText =
        "Please wait... " + std::to_string(m_pFolders->load(std::memory_order_relaxed)) +
        " folders, " + std::to_string(m_pFiles->load(std::memory_order_relaxed)) + " files";
    m_progress->SetTextFormat(strText.c_str(), PBX_TEXT_ONLY);
}

void CProgressDlg::showEvent(QShowEvent* pEvent) {
    ShowCountsNow();
    FitOwner();
    QDialog::showEvent(pEvent);
}

void CProgressDlg::ShowCounts(const std::atomic<uint64_t>* pFolders,
                              const std::atomic<uint64_t>* pFiles) {
    m_pFolders = pFolders;
    m_pFiles = pFiles;
}

void CProgressDlg::reject() {
    AskStop();
}

void CProgressDlg::AskStop() {
    // One question at a time; the strip goes on moving meanwhile.
    if (!m_fnAskStop || m_bAsking || m_bFinishRequested)
        return;
    m_bAsking = true;
    m_fnAskStop();
    m_bAsking = false;
}

void CProgressDlg::Finish() {
    m_bFinishRequested = true;
    // Runs on the window's own thread, inside its modal loop; a call that
    // comes before the loop waits in the queue until it runs.
    QMetaObject::invokeMethod(this, &CProgressDlg::OnFinish, Qt::QueuedConnection);
}

void CProgressDlg::OnFinish() {
    if (isVisible())
        done(IDCANCEL);
}

void CProgressDlg::closeEvent(QCloseEvent* pEvent) {
    // Closing ends nothing by itself (the build ends the window): it asks
    // the stop question, and the animation goes on.
    pEvent->ignore();
    AskStop();
}

void CProgressDlg::timerEvent(QTimerEvent* pEvent) {
    if (pEvent->timerId() == m_timer.timerId()) {
        ShowCountsNow();
        m_progress->StepIt();
    } else
        QDialog::timerEvent(pEvent);
}
