// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/DataFolder.h"
#include "pages/CPageDlg.h"

#include <cstdint>
#include <memory>
#include <string>

class CSpinButtonCtrl;
class QCheckBox;
class QLineEdit;
class CatalogBuild;

// The Create database page: a start directory, a catalog name, whether to
// store checksums and up to which file size. "Create" builds the catalog in
// the data folder on a worker thread while the progress window runs.
class CDBControl : public CPageDlg {
    Q_OBJECT

public:
    static constexpr int IDD = 106;
    static constexpr int IDC_START_DIR = 1001;
    static constexpr int IDC_BROWSE = 1002;
    static constexpr int IDC_CHECKSUM = 1009;
    static constexpr int IDC_MAX_FILE_SIZE = 1015;
    static constexpr int IDC_MAX_FILE_SIZE_SPIN = 1016;
    static constexpr int IDC_DATABASE_NAME = 1020;

    static constexpr const char* kMsgEnterStartDir = "Enter start directory";
    static constexpr const char* kMsgEnterName = ::kMsgEnterName;
    static constexpr const char* kMsgNameHasSlash = ::kMsgNameHasSlash;
    static constexpr const char* kMsgNameTooLong = ::kMsgNameTooLong;
    static constexpr const char* kMsgEnterInteger = "Please enter an integer.";
    static constexpr const char* kMsgOverwrite =
        "Database with the same name already exists. Overwrite database?";

    explicit CDBControl(QWidget* pParent = nullptr);
    ~CDBControl() override;

    // Copies the fields into the members (true) or the members into the
    // fields (false). Reading stops at a max size that is no integer, with
    // "Please enter an integer." and the focus there; it then answers false.
    bool UpdateData(bool bSaveAndValidate);

    void OnCreate();
    void OnBrowse();
    void OnChecksumClicked();
    void OnDeltaPosMaxFileSize(int nDelta);

    int32_t m_nMaxFileSizeKb = 100;
    CSpinButtonCtrl* m_spinMaxFileSize;
    bool m_bChecksum = false;
    QLineEdit* m_editMaxFileSize;
    std::string m_strStartDir;
    std::string m_strDatabaseName;

    QLineEdit* m_editStartDir;
    QLineEdit* m_editDatabaseName;
    QCheckBox* m_checkChecksum;

protected:
    void OnShowWindow(bool bShow) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void accept() override;

private:
    // The max size field as an integer, or nothing (after the message).
    bool ReadMaxFileSize(int32_t& nValue);

    std::unique_ptr<CatalogBuild> m_pBuild; // the last build, kept until the next
};
