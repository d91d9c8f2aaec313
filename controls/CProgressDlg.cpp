#include "controls/CProgressDlg.h"

#include "controls/CTextProgressCtrl.h"
#include "controls/DialogUnits.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QTimerEvent>
#include <algorithm>

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
    if (QWidget* pOwner = parentWidget())
        move(ClientOrigin(*pOwner));
    exec();
    return IDCANCEL;
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
    m_timer.stop();
    pEvent->ignore();
}

void CProgressDlg::timerEvent(QTimerEvent* pEvent) {
    if (pEvent->timerId() == m_timer.timerId())
        m_progress->StepIt();
    else
        QDialog::timerEvent(pEvent);
}
