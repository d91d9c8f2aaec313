// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/CAbout.h"

#include "controls/DialogUnits.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

CAbout::CAbout(QWidget* pParent) : QDialog(pParent) {
    setObjectName("IDD_ABOUT");
    setWindowTitle("About");
    const DialogUnits dlu(font());
    setFixedSize(dlu.Size(225, 60));

    auto* pOk = new QPushButton("OK", this);
    pOk->setObjectName("IDOK");
    pOk->setGeometry(dlu.Rect(168, 39, 50, 14));
    pOk->setDefault(true);
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);

    auto* pIcon = new QLabel(this);
    pIcon->setObjectName("IDI_MAIN");
    const QRect rcIcon = dlu.Rect(16, 14, 21, 20);
    pIcon->setGeometry(rcIcon);
    pIcon->setPixmap(QIcon(":/kestrel.svg").pixmap(std::min(rcIcon.width(), rcIcon.height())));

    auto* pText = new QLabel("Kestrel Version " KESTREL_VERSION, this);
    pText->setGeometry(dlu.Rect(44, 15, 174, 17));
    pText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}
