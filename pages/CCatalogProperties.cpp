#include "pages/CCatalogProperties.h"

#include "app/Desktop.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

CCatalogProperties::CCatalogProperties(
    const std::string& strEntry, const std::vector<std::pair<std::string, std::string>>& lines,
    QWidget* pParent)
    : QDialog(pParent) {
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
        addLine(QString::fromStdString(strLabel), strValue);
    pLayout->addLayout(pForm);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    pLayout->addWidget(pButtons);
}
