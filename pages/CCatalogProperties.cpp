// SPDX-License-Identifier: GPL-3.0-or-later

#include "pages/CCatalogProperties.h"

#include "app/Desktop.h"
#include "catalog/CatalogInfo.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <exception>

CCatalogProperties::CCatalogProperties(
    const std::string& strEntry, const std::string& strCatalogPath,
    const std::vector<std::pair<std::string, std::string>>& lines, const std::string& strNote,
    QWidget* pParent)
    : QDialog(pParent), m_strCatalogPath(strCatalogPath), m_strNote(strNote) {
    setObjectName("IDD_CATALOG_PROPERTIES");
    setWindowTitle("Properties of " + DisplayText(strEntry));
    auto* pLayout = new QVBoxLayout(this);
    auto* pForm = new QFormLayout();
    auto addLine = [&](const QString& strLabel, const std::string& strValue) {
        auto* pValue = new QLabel(DisplayText(strValue), this);
        pValue->setTextFormat(Qt::PlainText); // a path is never markup
        pValue->setTextInteractionFlags(Qt::TextSelectableByMouse);
        pForm->addRow(strLabel + ":", pValue);
    };
    addLine("Catalog", strEntry);
    for (const auto& [strLabel, strValue] : lines)
        if (strLabel != "Note")
            addLine(QString::fromStdString(strLabel), strValue);
    m_editNote = new QLineEdit(DisplayText(strNote), this);
    m_editNote->setObjectName("IDC_CATALOG_NOTE");
    m_editNote->setPlaceholderText("where the disk lives: shelf 3, blue box");
    pForm->addRow("Note:", m_editNote);
    pLayout->addLayout(pForm);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    pLayout->addWidget(pButtons);
}

void CCatalogProperties::accept() {
    // An unchanged note is not written: a catalog on a read-only disk can
    // still be looked at and closed with OK. Compared as shown, so that a
    // note that is not UTF-8 is not replaced by its display text.
    if (m_editNote->text() != DisplayText(m_strNote)) {
        const std::string strNote = BytesOf(m_editNote->text());
        try {
            WriteCatalogNote(m_strCatalogPath, strNote);
        } catch (const std::exception& error) {
            ShowMessage(this, std::string("The note could not be kept: ") + error.what(),
                        "Properties", MessageIcon::Critical);
            return;
        }
        m_strNote = strNote;
    }
    QDialog::accept();
}
