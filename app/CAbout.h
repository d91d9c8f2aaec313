// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDialog>

// The About box: the program's icon, name and version, and OK.
class CAbout : public QDialog {
    Q_OBJECT

public:
    static constexpr int IDD = 134;

    explicit CAbout(QWidget* pParent = nullptr);
};
