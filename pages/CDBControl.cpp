// SPDX-License-Identifier: GPL-3.0-or-later

#include "pages/CDBControl.h"

#include "app/Desktop.h"
#include "app/Globals.h"
#include "catalog/CatalogInfo.h"
#include "catalog/DataFolder.h"
#include "catalog/EngineError.h"
#include "controls/CSpinButtonCtrl.h"
#include "controls/DialogUnits.h"
#include "pages/ScanProgress.h"
#include "scan/CatalogBuild.h"
#include "scan/ScanJob.h"
#include "scan/StartDirectory.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <chrono>
#include <climits>
#include <unistd.h>

namespace {

// An integer as "%ld" reads one: blanks, an optional sign, digits; blanks may follow.
bool ParseInteger(const std::string& strText, int32_t& nValue) {
    size_t i = 0;
    auto isBlank = [&](size_t n) { return strText[n] == ' ' || strText[n] == '\t'; };
    while (i < strText.size() && isBlank(i))
        ++i;
    bool bNegative = false;
    if (i < strText.size() && (strText[i] == '+' || strText[i] == '-'))
        bNegative = strText[i++] == '-';
    const size_t nDigits = i;
    int64_t nMagnitude = 0;
    for (; i < strText.size() && strText[i] >= '0' && strText[i] <= '9'; ++i) {
        nMagnitude = nMagnitude * 10 + (strText[i] - '0');
        if (nMagnitude > int64_t(INT32_MAX) + 1)
            return false;
    }
    if (i == nDigits)
        return false;
    while (i < strText.size() && isBlank(i))
        ++i;
    const int64_t nSigned = bNegative ? -nMagnitude : nMagnitude;
    if (i != strText.size() || nSigned > INT32_MAX || nSigned < INT32_MIN)
        return false;
    nValue = static_cast<int32_t>(nSigned);
    return true;
}

} // namespace

CDBControl::CDBControl(QWidget* pParent) : CPageDlg(pParent) {
    setObjectName("IDD_CREATE_DATABASE");
    const DialogUnits dlu(font());
    resize(dlu.Size(269, 195));

    // Made in tab order.
    m_editStartDir = AddEdit("IDC_START_DIR", 16, 25, 208, 12);
    QPushButton* pBrowse = AddButton("...", "IDC_BROWSE", 227, 25, 11, 12);
    m_editDatabaseName = AddEdit("IDC_DATABASE_NAME", 16, 52, 208, 12);
    auto* pGroup = new QGroupBox("Files checksum (MD5)", this);
    pGroup->setGeometry(dlu.Rect(16, 80, 190, 49));
    m_checkChecksum = new QCheckBox("Calculate file checksum", this);
    m_checkChecksum->setObjectName("IDC_CHECKSUM");
    m_checkChecksum->setGeometry(dlu.Rect(31, 94, 90, 10));
    m_editMaxFileSize = AddEdit("IDC_MAX_FILE_SIZE", 121, 110, 50, 14);
    m_editMaxFileSize->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]*"), m_editMaxFileSize));
    m_editMaxFileSize->setEnabled(false);
    m_spinMaxFileSize = new CSpinButtonCtrl(this);
    m_spinMaxFileSize->setObjectName("IDC_MAX_FILE_SIZE_SPIN");
    m_spinMaxFileSize->SetBuddy(m_editMaxFileSize, dlu.X(11));
    QPushButton* pCreate = AddButton("Create", "IDOK", 173, 143, 65, 17);
    AddLabel("Start directory", 18, 15, 58, 10);
    AddLabel("Max file size (0 - unlimited)", 31, 112, 89, 10);
    AddLabel("Kb", 177, 112, 10, 10);
    AddLabel("Database name", 18, 42, 59, 8);
    pGroup->lower();

    RunOnClick(pCreate, [this] { OnCreate(); });
    RunOnClick(pBrowse, [this] { OnBrowse(); });
    connect(m_checkChecksum, &QCheckBox::clicked, this, &CDBControl::OnChecksumClicked);
    connect(m_spinMaxFileSize, &CSpinButtonCtrl::DeltaPos, this,
            &CDBControl::OnDeltaPosMaxFileSize);
    UpdateData(false);
}

CDBControl::~CDBControl() = default;

bool CDBControl::ReadMaxFileSize(int32_t& nValue) {
    if (ParseInteger(BytesOf(m_editMaxFileSize->text()), nValue))
        return true;
    ShowMessage(this, kMsgEnterInteger, "Kestrel", MessageIcon::Warning);
    m_editMaxFileSize->setFocus();
    m_editMaxFileSize->selectAll();
    return false;
}

bool CDBControl::UpdateData(bool bSaveAndValidate) {
    if (!bSaveAndValidate) {
        m_editMaxFileSize->setText(QString::number(m_nMaxFileSizeKb));
        m_checkChecksum->setChecked(m_bChecksum);
        m_editStartDir->setText(DisplayText(m_strStartDir));
        m_editDatabaseName->setText(DisplayText(m_strDatabaseName));
        return true;
    }
    if (!ReadMaxFileSize(m_nMaxFileSizeKb))
        return false;
    m_bChecksum = m_checkChecksum->isChecked();
    m_strStartDir = BytesOf(m_editStartDir->text());
    m_strDatabaseName = BytesOf(m_editDatabaseName->text());
    return true;
}

void CDBControl::OnCreate() {
    // Unlike the classic page, a max size that is no integer stops here, so
    // no catalog is built with a limit the user did not mean.
    if (!UpdateData(true))
        return;
    if (m_strStartDir.empty()) {
        ShowMessage(this, kMsgEnterStartDir, "Error", MessageIcon::Warning);
        return;
    }
    // Empty, leading out of the data folder, or too long for a file name.
    if (const std::string strProblem = CatalogNameProblem(g_strAppPath, m_strDatabaseName);
        !strProblem.empty()) {
        ShowMessage(this, strProblem, "Error", MessageIcon::Warning);
        return;
    }
    const std::string strCatalogPath = CatalogPathOf(g_strAppPath, m_strDatabaseName);
    // The window never waits for another program writing the catalog: it
    // says so, and the user tries again.
    m_pBuild.reset();
    try {
        m_pBuild = std::make_unique<CatalogBuild>(strCatalogPath, CatalogLock::Wait{});
    } catch (const EngineError& error) {
        ShowMessage(this, error.what(), "Database", MessageIcon::Warning);
        return;
    }
    // Any file there is asked about, also one that cannot be read. The old
    // catalog stays until the new one is complete.
    if (m_pBuild->Replaces() && ShowMessage(this, kMsgOverwrite, "Database", MessageIcon::Question,
                                            MessageButtons::YesNo) != MessageAnswer::Yes) {
        m_pBuild.reset();
        return;
    }

    ScanJob& job = m_pBuild->Job();
    // A relative folder that is not there is walked (and found unreadable)
    // as typed.
    ApplySettings(job, {.strStartDir = AbsoluteStartDirectory(m_strStartDir),
                        .bChecksum = m_bChecksum,
                        .nMaxFileSizeKb = m_nMaxFileSizeKb,
                        .excludes = {},
                        .bOneFileSystem = false});
    const auto tStart = std::chrono::steady_clock::now();
    RunScanJobModal(this, job);
    const double dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
    const std::string strProblem = m_pBuild->Finish();
    const bool bOldKept = m_pBuild->KeepsOld();
    const std::string strKept = bOldKept ? " The old catalog was left as it was." : "";
    if (job.outcome.bFailed)
        ShowMessage(this, job.outcome.strError + strKept, "Database", MessageIcon::Critical);
    else if (!strProblem.empty())
        ShowMessage(this, strProblem + " The old catalog was left as it was.", "Database",
                    MessageIcon::Critical);
    else if (job.outcome.bStartUnread)
        ShowMessage(this,
                    "The start directory '" + job.strStartDir + "' could not be read" +
                        (bOldKept ? "." + strKept : ": the catalog holds only its row."),
                    "Database", MessageIcon::Warning);
    else if (job.outcome.bStopped)
        ShowMessage(this,
                    bOldKept ? "The build was stopped." + strKept
                             : "The build was stopped: the catalog '" + m_strDatabaseName +
                                   "' holds what was walked until then, and says it is "
                                   "incomplete.",
                    "Database", MessageIcon::Warning);
    else
        ShowMessage(this,
                    "The catalog '" + m_strDatabaseName + "' was created: " +
                        ScanCountsText(job.outcome, dSeconds) + ScanNotesText(job) + ".",
                    "Database", MessageIcon::Information);
    m_pBuild.reset(); // lets go of the catalog's lock
    UpdateData(false);
}

void CDBControl::OnBrowse() {
    // Only the start directory changes; what was typed elsewhere stays.
    if (const std::optional<std::string> dir = PickDirectory(this)) {
        m_strStartDir = *dir;
        m_editStartDir->setText(DisplayText(m_strStartDir));
    }
}

void CDBControl::OnChecksumClicked() {
    m_bChecksum = m_checkChecksum->isChecked();
    m_editMaxFileSize->setEnabled(m_bChecksum);
}

void CDBControl::OnDeltaPosMaxFileSize(int nDelta) {
    int32_t nValue = 0;
    if (!ReadMaxFileSize(nValue))
        return;
    m_nMaxFileSizeKb =
        static_cast<int32_t>(std::clamp<int64_t>(int64_t(nValue) - nDelta, 0, INT32_MAX));
    m_editMaxFileSize->setText(QString::number(m_nMaxFileSizeKb));
}

void CDBControl::OnShowWindow(bool bShow) {
    if (bShow)
        RestoreFocus(m_editStartDir);
}

void CDBControl::keyPressEvent(QKeyEvent* pEvent) {
    // Enter in a field is Create (the button carries the OK identifier);
    // on a focused button it presses that button.
    const bool bEnter = pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter;
    if (!bEnter) {
        QDialog::keyPressEvent(pEvent);
        return;
    }
    if (auto* pButton = qobject_cast<QPushButton*>(focusWidget()))
        pButton->click();
    else
        accept();
}

void CDBControl::accept() {
    RunCommand(this, [this] { OnCreate(); });
}
