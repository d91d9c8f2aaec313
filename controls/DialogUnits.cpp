// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/DialogUnits.h"

#include <QFontMetrics>

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int nAlphabet =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    // The average of the 52 letters, rounded up: the layouts were drawn for a
    // narrow dialog font, and common desktop fonts set their texts wider.
    m_nBaseX = std::max(1, (nAlphabet + 51) / 52);
    m_nBaseY = std::max(1, metrics.height());
}
